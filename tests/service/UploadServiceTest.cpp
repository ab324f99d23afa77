// Upload, placement and idle cutting with the real client (curl) against the running
// devservice: what arrives is what was sent, and the clips follow every cut.

#include "ServiceFixture.h"

#include "service/IdleCut.h"
#include "service/UploadError.h"

#include <fstream>
#include <random>

namespace vanto::test {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

constexpr std::size_t MiB = 1024 * 1024;

std::string failureText(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

int countRequests(const Json& requests, const std::string& method, const std::string& pathStart) {
    int count = 0;
    for (const auto& request : requests)
        if (request["method"] == method && request["path"].get<std::string>().starts_with(pathStart)) ++count;
    return count;
}

class UploadService : public ServiceFixture {
protected:
    UploadService() : token(service.addAccount("ada@example.test", "Ada Lovelace")) {}

    fs::path file(const std::string& name, const std::string& bytes) {
        auto path = folder.path() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    static std::string randomBytes(std::size_t size, unsigned seed) {
        std::mt19937_64 generator(seed);
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; i += 8) {
            auto word = generator();
            for (std::size_t j = 0; j < 8 && i + j < size; ++j) bytes[i + j] = static_cast<char>(word >> (8 * j));
        }
        return bytes;
    }

    // A QuickTime header saying how long the movie is, and nothing to play.
    static std::string movieHeader(std::uint32_t timescale, std::uint32_t duration) {
        auto be32 = [](std::uint32_t v) {
            return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                               static_cast<char>(v)};
        };
        std::string ftyp = be32(20) + "ftypqt  " + be32(0x200) + "qt  ";
        std::string mvhdBody =
            std::string(4, '\0') + be32(0) + be32(0) + be32(timescale) + be32(duration) + std::string(80, '\0');
        std::string mvhd = be32(static_cast<std::uint32_t>(8 + mvhdBody.size())) + "mvhd" + mvhdBody;
        std::string moov = be32(static_cast<std::uint32_t>(8 + mvhd.size())) + "moov" + mvhd;
        std::string mdat = be32(8 + 1000) + "mdat" + std::string(1000, 'x');
        return ftyp + mdat + moov;
    }

    Json get(const std::string& path) {
        auto response = service.call("GET", path, "", {{"Authorization", "Bearer " + token}});
        EXPECT_EQ(response.status, 200) << path << ": " << response.body;
        return Json::parse(response.body, nullptr, false);
    }

    std::string download(const std::string& id) {
        auto response = service.call("GET", "/api/video/" + id + "/file", "", {{"Authorization", "Bearer " + token}});
        EXPECT_EQ(response.status, 200);
        return response.body;
    }

    // A video of the given length made of one clip, as an uploaded take becomes.
    std::string uploadedTake(std::int64_t lengthMs, const std::string& name = "take.mov") {
        APIClient::UploadParams params;
        params.file = file(name, randomBytes(1000, 3));
        params.events = {CaptureEvent{0.5, "move", "Start", "", std::nullopt, std::nullopt}};
        params.duration = static_cast<double>(lengthMs) / 1000;
        return api.upload(params).id;
    }

    std::string token;
    APIClient api = client(token);
    TempFolder folder{"vanto-upload-service"};
};

TEST_F(UploadService, aTwentyMebibyteTakeArrivesWholeInThreePartsWithItsEvents) {
    const auto bytes = randomBytes(20 * MiB, 1);
    std::vector<double> progress;
    APIClient::UploadParams params;
    params.file = file("take.mov", bytes);
    params.narration = "a tour";
    params.events = {CaptureEvent{1.25, "click", "Save", "", Point{100.4, 50.6}, Size{1440, 900}},
                     CaptureEvent{2.5, "type", "Name", "Ada", std::nullopt, std::nullopt}};
    params.duration = 6.5;
    params.onProgress = [&](double fraction) { progress.push_back(fraction); };
    auto result = api.upload(params);

    EXPECT_TRUE(result.id.starts_with("vid_")) << result.id;
    EXPECT_EQ(result.url, service.base() + "/videos/" + result.id);
    EXPECT_EQ(result.events, 2);
    EXPECT_EQ(progress, (std::vector<double>{0.4, 0.8, 1.0}));
    auto seen = service.requests();
    EXPECT_EQ(countRequests(seen, "POST", "/api/upload/initiate"), 1);
    EXPECT_EQ(countRequests(seen, "PUT", "/api/upload/"), 3);
    EXPECT_EQ(countRequests(seen, "POST", "/api/video/" + result.id + "/events"), 1);

    EXPECT_TRUE(download(result.id) == bytes) << "the assembled file differs from the take";
    auto events = get("/api/video/" + result.id + "/events");
    EXPECT_EQ(events["duration_ms"], 6500);
    ASSERT_EQ(events["events"].size(), 2u);
    EXPECT_EQ(events["events"][0], (Json{{"t", 1.25},
                                         {"action", "click"},
                                         {"label", "Save"},
                                         {"status", "done"},
                                         {"x", 100},
                                         {"y", 51},
                                         {"w", 0},
                                         {"h", 0},
                                         {"viewport_w", 1440},
                                         {"viewport_h", 900}}));
    EXPECT_EQ(events["events"][1]["text"], "Ada");

    auto video = get("/api/video/" + result.id);
    EXPECT_EQ(video["title"], "a tour");
    EXPECT_EQ(video["events"], 2);
    EXPECT_EQ(video["duration_ms"], 6500) << "a file that is no movie takes the recorder's length";

    auto page = service.call("GET", "/videos/" + result.id);
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("<h1>a tour</h1>"), std::string::npos);
    EXPECT_EQ(service.call("GET", "/videos/" + result.id + "/movie").body.size(), bytes.size());
    EXPECT_EQ(service.call("GET", "/videos/vid_nothing").status, 404);
}

TEST_F(UploadService, partBoundariesAndAnEmptyTake) {
    const auto exact = randomBytes(8 * MiB, 2);
    APIClient::UploadParams params;
    params.file = file("exact.mov", exact);
    auto result = api.upload(params);
    EXPECT_EQ(result.events, 0);
    auto seen = service.requests();
    EXPECT_EQ(countRequests(seen, "PUT", "/api/upload/"), 1) << "exactly 8 MiB is one part";
    EXPECT_EQ(countRequests(seen, "POST", "/api/video/"), 0) << "no events, no events request";
    EXPECT_TRUE(download(result.id) == exact);

    // A real movie header gives the video its length and its first clip.
    params.file = file("header.mov", movieHeader(600, 2520));
    auto movie = api.upload(params);
    EXPECT_EQ(get("/api/video/" + movie.id + "/clips")["clips"].size(), 1u);
    EXPECT_DOUBLE_EQ(api.videoLength(movie.id), 4.2);

    service.call("DELETE", "/__requests");
    params.file = file("empty.mov", "");
    EXPECT_EQ(failureText([&] { api.upload(params); }), "nothing to upload: " + params.file.string() + " is empty");
    EXPECT_TRUE(service.requests().empty()) << "an empty take reached the service";
}

TEST_F(UploadService, anUnknownProjectStillUploadsTheTakeOutsideIt) {
    APIClient::UploadParams params;
    params.file = file("take.mov", randomBytes(5000, 4));
    params.projectID = "proj_unknown";
    params.applyProjectSettings = true;
    auto result = api.upload(params);
    EXPECT_TRUE(api.videoExists(result.id));
    EXPECT_EQ(countRequests(service.requests(), "POST", "/api/upload/initiate"), 2);

    // Footage for a video that does not exist is refused as it is.
    params.projectID.clear();
    params.footageFor = "vid_nope";
    EXPECT_EQ(failureText([&] { api.upload(params); }),
              "the API returned 400: footage_for names no video of yours: vid_nope");
}

TEST_F(UploadService, faultsOnTheWayAreReportedAndOnlyKeyedStepsRetried) {
    APIClient::UploadParams params;
    params.file = file("take.mov", randomBytes(9 * MiB, 5));
    service.inject(
        {{"path", "/api/upload/*"}, {"method", "PUT"}, {"status", 507}, {"body", R"({"error":"disk full"})"}});
    EXPECT_EQ(failureText([&] { api.upload(params); }), "the API returned 507: disk full");

    service.inject({{"path", "/api/upload/*"}, {"method", "PUT"}, {"drop", true}});
    EXPECT_EQ(failureText([&] { api.upload(params); }),
              "the connection to " + service.base() + " was lost before the answer arrived");

    service.call("DELETE", "/__requests");
    params.clientKey = "take-1";
    service.inject({{"path", "/api/upload/initiate"}, {"drop", true}});
    service.inject({{"path", "/api/upload/up_*"}, {"method", "POST"}, {"drop", true}});
    auto first = api.upload(params);
    auto seen = service.requests();
    EXPECT_EQ(countRequests(seen, "POST", "/api/upload/initiate"), 2);
    EXPECT_EQ(countRequests(seen, "PUT", "/api/upload/"), 2);
    // The same key gets the same session and the same video back.
    auto again = api.upload(params);
    EXPECT_EQ(again.id, first.id);
}

TEST_F(UploadService, aVideoWhoseEventsFailedIsNamedSoTheTakeIsNotUploadedTwice) {
    APIClient::UploadParams params;
    params.file = file("take.mov", randomBytes(1000, 7));
    params.events = {CaptureEvent{0.5, "move", "Start", "", std::nullopt, std::nullopt}};
    params.duration = 2;
    service.inject({{"path", "/api/video/*"},
                    {"method", "POST"},
                    {"status", 503},
                    {"body", R"({"error":"the log store is down"})"}});
    auto failure = failureText([&] { api.upload(params); });
    std::string id;
    for (const auto& request : service.requests()) {
        auto path = request["path"].get<std::string>();
        if (path.ends_with("/events")) id = path.substr(std::string("/api/video/").size(), path.size() - 18);
    }
    ASSERT_FALSE(id.empty()) << failure;
    EXPECT_EQ(failure, "the take uploaded as " + id + " but its events could not be saved: the API returned 503: " +
                           "the log store is down. The video exists at " + service.base() + "/videos/" + id +
                           ", so do not upload the take again; it is still at " + params.file.string() + ".");
    EXPECT_EQ(get("/api/video/" + id)["id"], id);
    EXPECT_TRUE(fs::exists(params.file));
}

TEST_F(UploadService, placingATakeSplitsTheTimelineWhereItGoes) {
    auto main = uploadedTake(10000, "main.mov");
    auto take = uploadedTake(3000, "insert.mov");
    APIClient::InsertParams insert{main, take, 500, 2500, 4000, ""};
    EXPECT_EQ(api.insertTake(insert), 4000);
    auto clips = api.clips(main);
    ASSERT_EQ(clips.size(), 3u);
    EXPECT_EQ(clips[0].inMs, 0);
    EXPECT_EQ(clips[0].outMs, 4000);
    EXPECT_FALSE(clips[0].sourceVideoID);
    EXPECT_EQ(clips[1], (APIClient::ClipRef{clips[1].id, 500, 2500, take}));
    EXPECT_EQ(clips[2].inMs, 4000);
    EXPECT_EQ(clips[2].outMs, 10000);
    EXPECT_DOUBLE_EQ(api.videoLength(main), 12.0);

    insert.atMs = 60000;
    insert.clientKey = "end-1";
    EXPECT_EQ(api.insertTake(insert), 12000) << "past the end lands at the end";
    EXPECT_EQ(api.insertTake(insert), 12000) << "a repeated key inserts nothing more";
    EXPECT_DOUBLE_EQ(api.videoLength(main), 14.0);

    insert.outMs = 3500;
    insert.clientKey.clear();
    EXPECT_EQ(failureText([&] { api.insertTake(insert); }), "the API returned 400: out_ms is past the end of " + take);
    EXPECT_EQ(failureText([&] { api.split(main, clips[0].id, 4000); }),
              "the API returned 400: at_ms must fall inside the clip (0 ... 4000)");

    api.rename(main, "Release <notes>");
    EXPECT_EQ(get("/api/video/" + main)["title"], "Release <notes>");
    EXPECT_NE(service.call("GET", "/videos/" + main).body.find("Release &lt;notes&gt;"), std::string::npos);

    EXPECT_FALSE(api.videoExists("vid_0000"));
    auto stranger = client(service.addAccount("eve@example.test", "Eve"));
    EXPECT_FALSE(stranger.videoExists(main)) << "another account's video";
    EXPECT_EQ(failureText([&] { stranger.clips(main); }), "the API returned 404: no such video");
    EXPECT_FALSE(APIClient(Config{token, "http://127.0.0.1:9"}, http, fake.clock).videoExists(main))
        << "an unreachable service";
}

TEST_F(UploadService, idleCuttingLeavesTheKeptStretches) {
    auto take = uploadedTake(10000);
    IdleCut cut(api, take, take);
    auto stretches = IdleCut::stretches({{1000, 1800}, {5000, 9000}, {0, 1200}}, 10000);
    ASSERT_EQ(stretches, (std::vector<IdleCut::Span>{{5300, 8700}, {300, 900}}));
    EXPECT_EQ(cut.apply(stretches), 2);
    std::vector<IdleCut::Span> left;
    for (const auto& clip : api.clips(take)) left.push_back({clip.inMs, clip.outMs});
    EXPECT_EQ(left, IdleCut::kept(stretches, 10000));
    EXPECT_DOUBLE_EQ(api.videoLength(take), 10.0 - 3.4 - 0.6);

    // Inside a longer video: the take's clip is found by its source; a stretch close
    // to both its edges removes it without a split.
    auto main = uploadedTake(8000, "main.mov");
    auto short_ = uploadedTake(3000, "short.mov");
    api.insertTake({main, short_, 1000, 3000, 2000, ""});
    service.call("DELETE", "/__requests");
    EXPECT_TRUE(IdleCut(api, main, short_).remove({1100, 2850}));
    auto seen = service.requests();
    EXPECT_EQ(countRequests(seen, "POST", "/api/video/" + main + "/clips/"), 0) << "no split";
    EXPECT_EQ(countRequests(seen, "DELETE", "/api/video/" + main + "/clips/"), 1);
    EXPECT_DOUBLE_EQ(api.videoLength(main), 8.0);
    EXPECT_FALSE(IdleCut(api, main, short_).remove({1100, 2850})) << "nothing of the take is left";
}

TEST_F(UploadService, aFailurePartWayReportsHowManyWereCutAndKeepsThem) {
    auto take = uploadedTake(20000);
    auto stretches = IdleCut::stretches({{2000, 4000}, {8000, 12000}, {15000, 17000}}, 20000);
    ASSERT_EQ(stretches, (std::vector<IdleCut::Span>{{15300, 16700}, {8300, 11700}, {2300, 3700}}));
    // The first cut goes through; the second one's delete is refused.
    service.inject({{"path", "/api/video/" + take + "/clips/*"},
                    {"method", "DELETE"},
                    {"after", 1},
                    {"status", 503},
                    {"body", R"({"error":"editing paused"})"}});
    try {
        IdleCut(api, take, take).apply(stretches);
        FAIL() << "no failure";
    } catch (const IdleCut::Partial& partial) {
        EXPECT_EQ(partial.removed(), 1);
        EXPECT_EQ(std::string(partial.what()),
                  "stopped cutting idle pauses after 1: the API returned 503: editing paused");
    }
    EXPECT_DOUBLE_EQ(api.videoLength(take), 18.6) << "the first cut stays, nothing else went";
    EXPECT_EQ(countRequests(service.requests(), "GET", "/api/video/" + take + "/clips"), 2)
        << "the third stretch was never tried";
}

} // namespace
} // namespace vanto::test
