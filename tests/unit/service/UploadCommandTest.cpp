// The control protocol's "upload" through Vanto::handle on the fake desktop: which
// file goes up, with which events, and the answers when it cannot.

#include "cli/Vanto.h"
#include "platform/fake/FakePlatform.h"
#include "service/ConfigStore.h"
#include "service/UploadError.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace vanto {
namespace {

using Json = nlohmann::json;

class UploadCommand : public testing::Test {
protected:
    UploadCommand() {
        fake.capture.content.displays = {{1, {0, 0, 1440, 900}, 1}};
        fake.capture.addWindow(7, {100, 100, 800, 600});
    }

    std::string answer(const std::string& line) {
        auto request = decodeRequest(line);
        EXPECT_TRUE(request) << line;
        const bool input = request->cmd != Request::Command::start && request->cmd != Request::Command::stop;
        fake.clock.setAutoAdvance(input);
        return answerLine(program.handle(*request));
    }

    void connect() { ConfigStore(fake.paths, fake.processes).save(Config{"vt_secret_token_0123456789", base}); }

    void scriptUpload() {
        fake.http.answer(200, R"({"session_id":"up_1"})");
        fake.http.answer(200, R"({"etag":"e1"})");
        fake.http.answer(200, R"({"id":"vid_1"})");
        fake.http.answer(200, R"({"ok":true})");
    }

    std::vector<std::string> urls() {
        std::vector<std::string> list;
        for (const auto& sent : fake.http.sent()) list.push_back(sent.request.method + " " + sent.request.url);
        return list;
    }

    const std::string base = "https://api.vanto.test";
    fake::FakePlatform fake;
    Platform platform = fake.platform();
    std::istringstream in;
    std::ostringstream out, err;
    Vanto program{platform, in, out, err};
};

TEST_F(UploadCommand, refusesWithoutALinkOrATakeBeforeAskingTheService) {
    EXPECT_EQ(
        answer(R"({"cmd":"upload"})"),
        R"({"ok":false,"error":"not connected; send {\"cmd\":\"connect\"} to link this machine to a Vanto account"})");
    EXPECT_EQ(
        answer(R"({"cmd":"upload","path":"/tmp/x.mov"})"),
        R"({"ok":false,"error":"not connected; send {\"cmd\":\"connect\"} to link this machine to a Vanto account"})")
        << "the link is checked first";
    connect();
    EXPECT_EQ(answer(R"({"cmd":"upload"})"),
              R"({"ok":false,"error":"no recording to upload; record one first or pass an explicit path"})");
    ASSERT_EQ(answer(R"({"cmd":"start","target":{"kind":"window","windowID":7}})"), R"({"ok":true})");
    EXPECT_EQ(answer(R"({"cmd":"upload"})"),
              R"({"ok":false,"error":"no recording to upload; record one first or pass an explicit path"})")
        << "a take still being recorded is no take";
    EXPECT_TRUE(fake.http.sent().empty());
}

TEST_F(UploadCommand, theLastTakeGoesUpWithItsEventsAndAnotherFileWithout) {
    connect();
    ASSERT_EQ(answer(R"({"cmd":"start","target":{"kind":"display","displayID":1}})"), R"({"ok":true})");
    answer(R"({"cmd":"click","to":{"x":300,"y":200},"label":"Save"})");
    answer(R"({"cmd":"type","text":"Ada","label":"Name"})");
    fake.clock.advance(3);
    auto stopped = Json::parse(answer(R"({"cmd":"stop"})"));
    ASSERT_EQ(stopped["ok"], true) << stopped.dump();
    const std::string path = stopped["stopped"]["path"];
    {
        // The fake capture's file may be tiny; the service needs bytes to take.
        std::ofstream grow(path, std::ios::binary | std::ios::app);
        grow << "movie bytes";
    }

    scriptUpload();
    EXPECT_EQ(answer(R"({"cmd":"upload","narration":"first take"})"),
              R"({"ok":true,"uploaded":{"id":"vid_1","url":"https://app.vanto.test/videos/vid_1","events":2}})");
    auto sent = fake.http.sent();
    ASSERT_EQ(sent.size(), 4u);
    auto initiate = Json::parse(sent[0].request.body);
    EXPECT_EQ(initiate["prompt"], "first take");
    EXPECT_EQ(initiate["source"], "capture");
    EXPECT_FALSE(initiate.contains("project_id"));
    EXPECT_FALSE(initiate.contains("client_key"));
    auto events = Json::parse(sent[3].request.body);
    EXPECT_EQ(events["duration_ms"], static_cast<std::int64_t>(stopped["stopped"]["duration"].get<double>() * 1000));
    ASSERT_EQ(events["events"].size(), 2u);
    EXPECT_EQ(events["events"][0]["action"], "click");
    EXPECT_EQ(events["events"][0]["x"], 300);
    EXPECT_EQ(events["events"][0]["viewport_w"], 1440);
    EXPECT_EQ(events["events"][1]["text"], "Ada");

    // The same take named by its path still carries its events.
    scriptUpload();
    EXPECT_EQ(Json::parse(answer(Json{{"cmd", "upload"}, {"path", path}}.dump()))["uploaded"]["events"], 2);

    // Any other file goes up alone, with no events request.
    auto other = fake.paths.tempDir() / "other.mov";
    std::ofstream(other) << "another movie";
    fake.http.answer(200, R"({"session_id":"up_2"})");
    fake.http.answer(200, R"({"etag":"e1"})");
    fake.http.answer(200, R"({"id":"vid_2"})");
    const auto before = fake.http.sent().size();
    EXPECT_EQ(answer(Json{{"cmd", "upload"}, {"path", other.string()}}.dump()),
              R"({"ok":true,"uploaded":{"id":"vid_2","url":"https://app.vanto.test/videos/vid_2","events":0}})");
    auto after = fake.http.sent();
    ASSERT_EQ(after.size(), before + 3);
    EXPECT_FALSE(Json::parse(after[before].request.body).contains("source"));
    EXPECT_EQ(err.str().find("vt_secret_token"), std::string::npos);
}

TEST_F(UploadCommand, serviceFailuresAreAnswersWithoutTheToken) {
    connect();
    auto file = fake.paths.tempDir() / "take.mov";
    std::ofstream(file) << "bytes";
    fake.http.answer(500, R"({"error":"token vt_secret_token_0123456789 rejected"})");
    auto refused = answer(Json{{"cmd", "upload"}, {"path", file.string()}}.dump());
    EXPECT_EQ(refused, R"({"ok":false,"error":"the API returned 500: token [token] rejected"})");
    fake.http.answer(401, "");
    EXPECT_EQ(Json::parse(answer(Json{{"cmd", "upload"}, {"path", file.string()}}.dump()))["error"],
              UploadError::signedOut().what());
}

} // namespace
} // namespace vanto
