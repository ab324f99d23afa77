#include "drivers/FileDriver.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

namespace vanto {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class FileDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("vanto-file-driver-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    void write(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }
    std::string read(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    std::vector<std::string> names(const fs::path& folder) {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder)) found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }

    fs::path root;
    fake::VirtualClock clock;
};

TEST_F(FileDriverTest, theFolderSitsBesideTheSheet) {
    EXPECT_EQ(FileDriver::folderBeside("/work/demos/demo.json"), fs::path("/work/demos/demo.drive"));
    EXPECT_EQ(FileDriver::folderBeside("/work/demos/tour"), fs::path("/work/demos/tour.drive"));
    EXPECT_EQ(FileDriver::folderBeside("a.b.json"), fs::path("a.b.drive"));
    FileDriver driver(root / "demo.drive", clock);
    EXPECT_EQ(driver.screenshotFile(12), root / "demo.drive" / "look-12.png");
}

TEST_F(FileDriverTest, prepareEmptiesTheFolderAndMakesItOwnerOnly) {
    auto folder = root / "deep" / "demo.drive";
    FileDriver driver(folder, clock);
    driver.prepare(); // a missing folder is not an error
    EXPECT_TRUE(fs::is_directory(folder));

    write(folder / "next.json", R"({"id":1,"end":true})");
    write(folder / "result-3.json", "{}");
    fs::create_directories(folder / "leftover");
    write(folder / "leftover" / "x", "x");
    fs::permissions(folder, fs::perms::all, fs::perm_options::replace);
    driver.prepare();
    EXPECT_TRUE(names(folder).empty());
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);

    // A file where the folder should be cannot be turned into one.
    fs::create_directories(root / "blocked");
    write(root / "blocked" / "not-a-folder", "x");
    FileDriver stuck(root / "blocked" / "not-a-folder" / "demo.drive", clock);
    EXPECT_THROW(stuck.prepare(), fs::filesystem_error);
    EXPECT_EQ(std::string(FileDriver::Failure::noFolder().what()),
              "the driven take's folder beside the sheet could not be made");
}

TEST_F(FileDriverTest, nextTakesTheCommandAndConsumesTheFile) {
    FileDriver driver(root, clock);
    write(root / "next.json", R"({"id":4,"step":{"action":"type","text":"hello"}})");
    auto command = driver.next(5);
    EXPECT_EQ(command.kind, DriverCommand::Kind::step);
    EXPECT_EQ(command.id, 4);
    EXPECT_EQ(command.step->text, "hello");
    EXPECT_FALSE(fs::exists(root / "next.json"));
    EXPECT_EQ(clock.sleeps(), 0); // it was there at the first look
}

TEST_F(FileDriverTest, nextIdlesOutWhenNoCommandComes) {
    FileDriver driver(root, clock);
    double start = clock.now();
    auto command = driver.next(2);
    EXPECT_EQ(command, DriverCommand::idle());
    EXPECT_GE(clock.now(), start + 2);
    EXPECT_NEAR(clock.slept(), 2, 0.11);
    EXPECT_GE(clock.sleeps(), 20); // every 100 ms
    EXPECT_LE(clock.sleeps(), 21);
    EXPECT_EQ(driver.next(0), DriverCommand::idle());
}

TEST_F(FileDriverTest, aCommandThatShowsUpByTheLastPollIsTaken) {
    for (bool inTime : {true, false}) {
        SCOPED_TRACE(inTime ? "before the last poll" : "after the last poll");
        fake::VirtualClock exact;
        exact.setAutoAdvance(false);
        FileDriver driver(root, exact);
        const double timeout = 1;
        const double deadline = exact.now() + timeout;
        auto answer = std::async(std::launch::async, [&] { return driver.next(timeout); });

        // Follow the driver's sleeps; the poll after a wake-up is the last one when
        // the wake-up after it would be at or past the deadline.
        for (int n = 1;; ++n) {
            // A driver that gives up early must fail the test, not hang it.
            while (exact.sleeps() < n && answer.wait_for(1ms) != std::future_status::ready) {
            }
            if (answer.wait_for(0ms) == std::future_status::ready) break;
            exact.waitForSleepers(1);
            double wake = exact.now() + FileDriver::pollInterval;
            bool lastPollComes = wake < deadline && wake + FileDriver::pollInterval >= deadline;
            bool noPollComes = wake >= deadline;
            bool now = inTime ? lastPollComes : noPollComes;
            if (now) write(root / "next.json", R"({"id":77,"look":true})");
            exact.advance(FileDriver::pollInterval);
            if (now) break;
        }
        auto command = answer.get();
        if (inTime) {
            EXPECT_EQ(command, DriverCommand::looking(77));
            EXPECT_FALSE(fs::exists(root / "next.json"));
        } else {
            EXPECT_EQ(command, DriverCommand::idle());
            EXPECT_TRUE(fs::exists(root / "next.json")); // left for the next wait
            fs::remove(root / "next.json");
        }
    }
}

TEST_F(FileDriverTest, anUnreadableCommandIsConsumedAndReported) {
    FileDriver driver(root, clock);
    auto failureOf = [&](const std::string& bytes) -> std::string {
        write(root / "next.json", bytes);
        try {
            driver.next(1);
        } catch (const FileDriver::Failure& failure) {
            EXPECT_EQ(failure.which(), FileDriver::Failure::Case::unreadable);
            EXPECT_FALSE(fs::exists(root / "next.json"));
            return failure.what();
        }
        return "(no failure)";
    };
    EXPECT_EQ(failureOf(R"({"id":1,"look":false})"),
              "the driver's command could not be read: it names no step, look, end or abort");
    EXPECT_EQ(failureOf(R"({"look":true})"), R"(the driver's command could not be read: missing "id")");
    auto notJSON = failureOf(R"({"id":1,)");
    EXPECT_TRUE(notJSON.starts_with("the driver's command could not be read: parse error at line 1")) << notJSON;
    // The next command after a bad one is read normally.
    write(root / "next.json", R"({"id":2,"end":true})");
    EXPECT_EQ(driver.next(1), DriverCommand::ending(2));
}

TEST_F(FileDriverTest, aStoppedWaitIsCancelled) {
    fake::VirtualClock exact;
    exact.setAutoAdvance(false);
    FileDriver driver(root, exact);
    std::stop_source stop;
    auto waiting = std::async(std::launch::async, [&] { return driver.next(60, stop.get_token()); });
    while (exact.sleeps() < 1) std::this_thread::sleep_for(1ms);
    exact.waitForSleepers(1);
    stop.request_stop();
    EXPECT_THROW(waiting.get(), Cancelled);
}

TEST_F(FileDriverTest, answersArePublishedWholeUnderTheirId) {
    FileDriver driver(root, clock);
    write(root / "result-7.json", "stale");
    DriverResult result{7, DriverResult::Outcome::looked, std::nullopt,
                        DriverLook{"https://example.com", {{"link", "Docs"}}, "look-7.png"}};
    driver.answer(result);
    EXPECT_EQ(names(root), (std::vector<std::string>{"result-7.json"}));
    EXPECT_EQ(read(root / "result-7.json"), R"({
  "id": 7,
  "look": {
    "controls": [
      {
        "label": "Docs",
        "role": "link"
      }
    ],
    "screenshot": "look-7.png",
    "url": "https://example.com"
  },
  "outcome": "looked"
})");

    driver.answer({0, DriverResult::Outcome::started, std::nullopt, DriverLook{}});
    EXPECT_EQ(names(root), (std::vector<std::string>{"result-0.json", "result-7.json"}));
    auto opening = nlohmann::json::parse(read(root / "result-0.json"));
    EXPECT_EQ(opening["outcome"], "started");
    EXPECT_EQ(opening["id"], 0);
    EXPECT_FALSE(opening.contains("error"));

    // Bytes that are not UTF-8 in an error still reach the driver.
    driver.answer({8, DriverResult::Outcome::failed, std::string("no \xff element"), std::nullopt});
    auto failed = nlohmann::json::parse(read(root / "result-8.json"));
    EXPECT_EQ(failed["error"], "no \xEF\xBF\xBD element");
    EXPECT_FALSE(failed.contains("look"));

    // A folder that is gone is an error of answer, not a silent loss.
    FileDriver gone(root / "missing", clock);
    EXPECT_THROW(gone.answer(result), fs::filesystem_error);
}

TEST_F(FileDriverTest, aWholeExchangeThroughTheFolder) {
    auto folder = root / "tour.drive";
    FileDriver driver(folder, clock);
    write(root / "stale", "");
    driver.prepare();
    driver.opened(0);
    driver.answer({0, DriverResult::Outcome::started, std::nullopt, DriverLook{}});
    // The driver's side: write under another name and rename, as recommended.
    write(folder / "next.tmp", R"({"id":1,"step":{"action":"click","target":"Next"}})");
    fs::rename(folder / "next.tmp", folder / "next.json");
    auto command = driver.next(10);
    ASSERT_EQ(command.kind, DriverCommand::Kind::step);
    driver.answer({command.id, DriverResult::Outcome::unchanged, std::nullopt, DriverLook{}});
    write(folder / "next.json", R"({"id":2,"end":true})");
    EXPECT_EQ(driver.next(10), DriverCommand::ending(2));
    driver.answer({2, DriverResult::Outcome::ended, std::nullopt, std::nullopt});
    driver.closed();
    EXPECT_EQ(names(folder), (std::vector<std::string>{"result-0.json", "result-1.json", "result-2.json"}));
    EXPECT_EQ(nlohmann::json::parse(read(folder / "result-1.json"))["outcome"], "unchanged");
}

} // namespace
} // namespace vanto
