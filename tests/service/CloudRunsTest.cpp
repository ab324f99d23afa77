// Cloud runs from the claim to the last report, against the devservice playing the
// assistant, on a clock the test moves.

#include "ServiceFixture.h"

#include "cloud/CloudRuns.h"
#include "cloud/HeldRun.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace vanto::test {
namespace {

using Answer = CloudRuns::Answer;

// The main thread as the test drives it: posted work waits until the test runs it.
class TestMainThread final : public MainThread {
public:
    void run(std::function<void()> f) override { f(); }
    void post(std::function<void()> f) override {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(f));
        posted_.notify_all();
    }
    // Runs posted work until `done` holds, looking again every 20 ms (the service's
    // records change without a post); false after ten seconds without it.
    bool until(const std::function<bool()>& done, bool drainOnly = false) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            std::unique_lock lock(mutex_);
            if (drainOnly && queue_.empty()) return true;
            if (std::chrono::steady_clock::now() > deadline) return false;
            if (!posted_.wait_for(lock, std::chrono::milliseconds(20), [this] { return !queue_.empty(); })) continue;
            auto next = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            next();
        }
        return true;
    }
    void drain() {
        until([] { return false; }, true);
    }

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> queue_;
};

// The desktop window: records nothing itself; the test saves reports and ends takes.
class FakeWindow final : public CloudRuns::Window {
public:
    bool isRecording() override { return recording; }
    void record(CloudRuns::Recording given) override {
        current = std::move(given);
        recording = true;
        ++records;
    }
    void stopCloudTake() override { ++stops; }
    void ask(const CloudRuns::Question& question, std::function<void(Answer)> answered) override {
        questions.push_back(question);
        answer = std::move(answered);
    }
    std::optional<std::int64_t> screenHeight() override { return 900; }
    bool permissionsMissing() override { return false; }

    // The report as the window saves it after a take.
    void save(SheetReport::State state, std::optional<std::string> error = std::nullopt) {
        auto report = current->report;
        report.state = state;
        report.error = std::move(error);
        current->saved(report);
    }
    void end() {
        recording = false;
        current->ended();
    }

    bool recording = false;
    int records = 0;
    int stops = 0;
    std::optional<CloudRuns::Recording> current;
    std::vector<CloudRuns::Question> questions;
    std::function<void(Answer)> answer;
};

nlohmann::json take(const std::string& url) {
    return {{"kind", "take"}, {"prompt", "show the page"}, {"startURL", url}};
}

class CloudRunsTest : public ServiceFixture {
protected:
    void SetUp() override {
        token = service.addAccount("ada@example.test", "Ada Lovelace");
        clock.setAutoAdvance(false);
    }

    CloudRuns::Seams seams() {
        return {mainThread,
                clock,
                defaults,
                fake.random,
                [this] {
                    return std::optional<APIClient>(APIClient(Config{token, service.base()}, http, clock));
                },
                [](const std::string&) { return std::vector<std::string>{"93.184.216.34"}; },
                home.path() / "cloud-run.json",
                home.path() / "Runs"};
    }

    std::string enqueue(nlohmann::json scenes, nlohmann::json extra = nlohmann::json::object()) {
        extra["sheet"] = {{"title", "Tour"}, {"stage", {{"width", 1280}, {"height", 720}}}, {"scenes", scenes}};
        extra["requested_by"] = "Claude";
        auto answer = service.call("POST", "/__cloud/requests", extra.dump(), {{"Content-Type", "application/json"}});
        return nlohmann::json::parse(answer.body)["id"].get<std::string>();
    }
    nlohmann::json run(const std::string& id) {
        return nlohmann::json::parse(service.call("GET", "/__cloud/runs/" + id).body);
    }
    void control(const std::string& id, const std::string& what, const std::string& body = "{}") {
        service.call("POST", "/__cloud/runs/" + id + "/" + what, body, {{"Content-Type", "application/json"}});
    }
    nlohmann::json reports(const std::string& id) {
        auto kept = run(id)["reports"];
        for (auto& report : kept) report.erase("seq");
        return kept;
    }
    int requestsTo(const std::string& path) {
        int count = 0;
        for (const auto& request : service.requests())
            if (request["path"] == path) ++count;
        return count;
    }

    // A run recording at once, the person having always allowed it.
    std::string recording(nlohmann::json extra = nlohmann::json::object(),
                          nlohmann::json scenes = {take("https://shop.example/cart")}) {
        defaults.set(CloudRuns::alwaysAllowedKey, true);
        auto id = enqueue(std::move(scenes), std::move(extra));
        runs->poll();
        if (!mainThread.until([&] { return window.records == 1; })) throw std::runtime_error(run(id).dump());
        return id;
    }
    // One heartbeat: the clock moves past its pause and its answer is obeyed.
    void beat() {
        clock.waitForSleepers(1);
        auto sleeps = clock.sleeps();
        clock.advance(CloudRuns::heartbeatEvery);
        clock.waitForSleeps(sleeps + 1);
        mainThread.drain();
    }
    bool settled() {
        return mainThread.until([&] { return !runs->busy(); });
    }
    // The window's side of a stopped take: the report fails, the recording ends. The reports kept.
    nlohmann::json stopped(const std::string& id) {
        window.save(SheetReport::State::failed, "the take was stopped part-way");
        window.end();
        EXPECT_TRUE(settled());
        return reports(id);
    }

    fake::VirtualClock clock;
    TestMainThread mainThread;
    TempFolder home{"vanto-cloud-runs"};
    FakeWindow window;
    std::string token;
    std::unique_ptr<CloudRuns> runs = std::make_unique<CloudRuns>(seams(), window);
};

TEST_F(CloudRunsTest, aMachineThatTakesNoRunsClaimsNoneAndADeclinedQuestionRecordsNothing) {
    auto id = enqueue({take("https://shop.example/a"),
                       take("https://docs.example/b"),
                       {{"kind", "hold"}, {"name", "end"}, {"seconds", 2}}});
    defaults.set(CloudRuns::acceptKey, false);
    runs->poll();
    mainThread.drain();
    EXPECT_EQ(requestsTo("/api/recorder/claim"), 0);
    EXPECT_EQ(run(id)["state"], "waiting");

    defaults.remove(CloudRuns::acceptKey);
    runs->poll();
    ASSERT_TRUE(mainThread.until([&] { return !window.questions.empty(); }));
    EXPECT_EQ(window.questions[0],
              (CloudRuns::Question{"Record a demo for Claude?",
                                   "An assistant that calls itself Claude wants to record 2 takes of docs.example, "
                                   "shop.example and put them in a video in your account. It records in Vanto's "
                                   "cloud stage browser, which has none of your tabs or sign-ins, and only public "
                                   "web pages. Your mouse and keyboard are used while it records."}));
    EXPECT_EQ(HeldRun::read(home.path() / "cloud-run.json")->runID, id);
    EXPECT_EQ(runs->activeRun(), id);

    window.answer(Answer::decline);
    ASSERT_TRUE(settled());
    EXPECT_EQ(window.records, 0);
    EXPECT_EQ(reports(id),
              nlohmann::json::parse(R"([{"state":"asking"},{"state":"refused","code":"consent_declined"}])"));
    EXPECT_FALSE(std::filesystem::exists(home.path() / "cloud-run.json"));
    EXPECT_FALSE(std::filesystem::exists(home.path() / "Runs" / id));
}

TEST_F(CloudRunsTest, progressGoesOnceAndATakeStoppedAtTheMachineIsReportedSo) {
    auto id = recording();
    auto folder = home.path() / "Runs" / id;
    EXPECT_EQ(window.current->folder, folder);
    EXPECT_TRUE(std::filesystem::exists(folder / "report.json"));
    EXPECT_FALSE(window.current->driver); // no scene is driven

    window.save(SheetReport::State::recording);
    window.save(SheetReport::State::recording);
    auto kept = stopped(id);
    ASSERT_EQ(kept.size(), 2u) << kept;
    EXPECT_EQ(kept[0]["state"], "recording");
    EXPECT_EQ(kept[1]["state"], "cancelled");
    EXPECT_EQ(kept[1]["code"], "stopped_on_mac");
    EXPECT_EQ(kept[1]["report"]["takes"][0]["state"], "pending");
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_FALSE(std::filesystem::exists(home.path() / "cloud-run.json"));
}

TEST_F(CloudRunsTest, aRunOverItsTimeIsStoppedAndSaysWhy) {
    auto driven = take("https://shop.example/cart");
    driven["driven"] = true;
    auto id = recording({{"limits", {{"run_ms", 60000}}}}, {driven});
    EXPECT_TRUE(window.current->driver);
    for (int i = 0; i < 6; ++i) beat(); // 60 s: not over yet
    EXPECT_EQ(window.stops, 0);
    beat();
    EXPECT_EQ(window.stops, 1);
    auto last = stopped(id).back();
    EXPECT_EQ(last["state"], "failed");
    EXPECT_EQ(last["code"], "take_failed");
    EXPECT_EQ(last["detail"], "the run recorded for longer than it may");
    EXPECT_EQ(run(id)["heartbeats"], 7);
}

TEST_F(CloudRunsTest, aSwitchOffHeardWithAHeartbeatStopsTheTake) {
    auto id = recording();
    beat();
    EXPECT_EQ(window.stops, 0);
    control(id, "stop", R"({"stop":"switch_off"})");
    beat();
    EXPECT_EQ(window.stops, 1);
    // Stopped by the service, not by the person, though the take says "stopped part-way".
    auto last = stopped(id).back();
    EXPECT_EQ(last["state"], "cancelled");
    EXPECT_EQ(last["code"], "switch_off");
}

TEST_F(CloudRunsTest, aRunTakenAwayStopsItsTakeAndSaysNothingMore) {
    auto id = recording();
    control(id, "take-away");
    clock.waitForSleepers(1);
    clock.advance(CloudRuns::heartbeatEvery); // the heartbeat hears 409 and beats no more
    ASSERT_TRUE(mainThread.until([&] { return window.stops == 1; }));
    EXPECT_EQ(stopped(id), nlohmann::json::array()); // silent from then on
    EXPECT_EQ(requestsTo("/api/recorder/runs/" + id + "/report"), 0);
    EXPECT_FALSE(std::filesystem::exists(home.path() / "cloud-run.json"));
}

TEST_F(CloudRunsTest, aQuitDuringARunIsReportedAtTheNextStart) {
    auto id = enqueue({take("https://shop.example/cart")});
    runs->poll();
    ASSERT_TRUE(mainThread.until([&] { return !window.questions.empty() && reports(id).size() == 1; }));
    runs.reset(); // quit with the question still open
    auto held = home.path() / "cloud-run.json";
    ASSERT_TRUE(std::filesystem::exists(held));
    window.answer(Answer::allow); // the window goes away after the runs: nothing may follow
    mainThread.drain();
    EXPECT_EQ(window.records, 0);

    auto left = home.path() / "Runs" / id;
    std::filesystem::create_directories(left / "drive"); // what a take would have left
    runs = std::make_unique<CloudRuns>(seams(), window);
    runs->start();
    EXPECT_FALSE(std::filesystem::exists(held));
    EXPECT_FALSE(std::filesystem::exists(left));
    ASSERT_TRUE(mainThread.until([&] { return reports(id).size() == 2; })) << reports(id);
    EXPECT_EQ(reports(id)[1], nlohmann::json::parse(
                                  R"({"state":"failed","code":"app_restarted","detail":"Vanto quit during the run"})"));
}

TEST_F(CloudRunsTest, aFinalReportTheServiceCouldNotTakeIsTriedAgainAfterLongerPauses) {
    auto id = recording();
    auto path = "/api/recorder/runs/" + id + "/report";
    service.inject({{"method", "POST"}, {"path", path}, {"status", 503}, {"times", 2}});
    window.save(SheetReport::State::done);
    window.end();
    EXPECT_TRUE(runs->busy()); // settling until the result is delivered
    ASSERT_TRUE(mainThread.until([&] { return requestsTo(path) == 1; }));
    clock.waitForSleepers(1);
    clock.advance(3);
    ASSERT_TRUE(mainThread.until([&] { return requestsTo(path) == 2; }));
    clock.waitForSleepers(1);
    clock.advance(6);
    ASSERT_TRUE(settled());
    EXPECT_EQ(clock.slept(), 9); // 3 s, then 6 s
    EXPECT_EQ(requestsTo(path), 3);
    EXPECT_EQ(reports(id).at(0)["state"], "done");
}

TEST_F(CloudRunsTest, aRunIDThatNamesAnotherFolderStaysInsideTheRunsFolder) {
    // The run's folder is deleted when the run ends: ".." would take the whole data folder.
    defaults.set(CloudRuns::alwaysAllowedKey, true);
    auto claim = nlohmann::json::parse(R"({"id": "..", "attempt": 1, "requested_by": "Claude", "claim_token": "t",
        "limits": {}, "resume": false, "sheet": {"title": "Tour", "stage": {"width": 1280, "height": 720},
        "scenes": [{"kind": "take", "prompt": "show the page", "startURL": "https://shop.example/"}]}})");
    service.inject({{"method", "POST"}, {"path", "/api/recorder/claim"}, {"status", 200}, {"body", claim.dump()}});
    runs->poll();
    ASSERT_TRUE(mainThread.until([&] { return window.records == 1; }));
    EXPECT_EQ(runs->activeRun(), "..");
    EXPECT_EQ(window.current->folder.parent_path(), home.path() / "Runs");
    EXPECT_NE(window.current->folder.filename(), "..");
    EXPECT_TRUE(std::filesystem::exists(window.current->folder / "report.json"));
}

} // namespace
} // namespace vanto::test
