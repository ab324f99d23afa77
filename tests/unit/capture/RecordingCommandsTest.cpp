// The control protocol's "start", "stop" and "status", and the capture events the
// input commands log while a recording runs, through Vanto::handle on the fake desktop.

#include "cli/Vanto.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <sstream>

namespace vanto {
namespace {

class RecordingCommands : public testing::Test {
protected:
    RecordingCommands() {
        fake.capture.content.displays = {{1, {0, 0, 1440, 900}, 1}};
        fake.capture.addWindow(7, {100, 100, 800, 600});
    }

    Response send(const std::string& line) {
        auto request = decodeRequest(line);
        EXPECT_TRUE(request) << line;
        // Input paces itself on the clock, while the recorder's limits must not pass
        // on their own: time moves by itself only for input.
        const bool input = request->cmd != Request::Command::start && request->cmd != Request::Command::stop &&
                           request->cmd != Request::Command::status;
        fake.clock.setAutoAdvance(input);
        return program.handle(*request);
    }

    std::string answer(const std::string& line) { return answerLine(send(line)); }

    fake::FakePlatform fake;
    Platform platform = fake.platform();
    std::istringstream in;
    std::ostringstream out, err;
    Vanto program{platform, in, out, err};
};

TEST_F(RecordingCommands, startStatusAndStopGoThroughOneRecorder) {
    const auto output = fake.paths.tempDir() / "take.mov";
    std::filesystem::create_directories(output.parent_path());
    EXPECT_EQ(answer(R"({"cmd":"start","target":{"kind":"window","windowID":7},"output":")" + output.string() + "\"}"),
              R"({"ok":true})");
    auto stream = fake.capture.lastStream();
    ASSERT_TRUE(stream);
    EXPECT_DOUBLE_EQ(stream->configuration.minimumFrameInterval, 1.0 / 30);
    EXPECT_TRUE(stream->configuration.showsCursor);
    EXPECT_EQ(stream->output->videoCodecType, VideoCodec::h264);
    EXPECT_EQ(answer(R"({"cmd":"start","target":{"kind":"window","windowID":7}})"),
              R"({"ok":false,"error":"a recording is already in progress"})");
    auto status = send(R"({"cmd":"status"})");
    ASSERT_TRUE(status.status);
    EXPECT_TRUE(status.status->recording);
    EXPECT_EQ(status.status->path, output.string());

    fake.clock.advance(3);
    auto stopped = send(R"({"cmd":"stop"})");
    ASSERT_TRUE(stopped.stopped) << answerLine(stopped);
    EXPECT_EQ(stopped.stopped->path, output.string());
    EXPECT_DOUBLE_EQ(stopped.stopped->duration, 3);
    EXPECT_FALSE(fake.ui.indicator); // nothing is being saved any more
    EXPECT_EQ(fake.ui.indicatorTitles, (std::vector<std::string>{"● REC", "◼ Saving"}));
    EXPECT_EQ(answer(R"({"cmd":"stop"})"), R"({"ok":false,"error":"no recording in progress"})");
    EXPECT_EQ(answer(R"({"cmd":"start"})"), R"({"ok":false,"error":"missing required field: target"})");
}

TEST_F(RecordingCommands, labelledInputDuringADisplayRecordingIsLogged) {
    EXPECT_EQ(answer(R"({"cmd":"click","to":{"x":5,"y":5},"settle":0,"label":"Before"})"), R"({"ok":true})");
    EXPECT_EQ(
        answer(R"({"cmd":"start","target":{"kind":"display","rect":{"x":100,"y":100,"width":400,"height":300}}})"),
        R"({"ok":true})");
    answer(R"({"cmd":"move","to":{"x":150,"y":120},"duration":0,"label":"Menu"})");
    fake.pointer.at = {160, 130};
    answer(R"({"cmd":"click","settle":0,"label":"Menu"})");
    answer(R"({"cmd":"click","to":{"x":900,"y":800},"settle":0,"label":"Outside"})");
    answer(R"({"cmd":"click","to":{"x":200,"y":200},"settle":0})");
    answer(R"({"cmd":"key","keys":["cmd+s","return"],"label":"Save"})");
    answer(R"({"cmd":"scroll","dy":-3,"duration":0,"label":""})");

    auto stopped = send(R"({"cmd":"stop"})");
    ASSERT_TRUE(stopped.stopped) << answerLine(stopped);
    EXPECT_EQ(stopped.stopped->events, 4);
    // The log is the last take's until the next start.
    auto events = program.handle(*decodeRequest(R"({"cmd":"status"})")).status->events;
    EXPECT_EQ(events, 4);
}

} // namespace
} // namespace vanto
