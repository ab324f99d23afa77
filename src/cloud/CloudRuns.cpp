#include "cloud/CloudRuns.h"

#include "cloud/CloudDriver.h"
#include "cloud/CloudSheetMaker.h"
#include "cloud/HeldRun.h"
#include "cloud/URLParts.h"
#include "service/UploadError.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

namespace vanto {
namespace {

// Set once a send is over, however it ended; the next send of the run and the run's
// clean-up wait for it.
class Done {
public:
    void set() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
    }
    // False when stopped first.
    bool wait(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        return changed_.wait(lock, stop, [this] { return done_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable_any changed_;
    bool done_ = false;
};

// Whether a request's failure means the run is no longer this machine's to report on.
bool lostTheRun(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const Abandoned&) {
        return true;
    } catch (const UploadError& error) {
        return error.kind() == UploadError::Case::signedOut;
    } catch (...) {
        return false;
    }
}

std::map<std::string, std::string> stringMembers(const nlohmann::json& body) {
    std::map<std::string, std::string> out;
    for (const auto& [key, value] : body.items())
        if (value.is_string()) out[key] = value.get<std::string>();
    return out;
}

// The run's folder name. The ID comes from the service, and the folder is deleted at the
// end: "..", a slash or anything else that could reach outside the runs folder is escaped.
std::string folderName(const std::string& runID) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : runID) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out.empty() ? "%" : out;
}

} // namespace

struct CloudRuns::Active {
    Active(CloudClaim claim, APIClient api, std::filesystem::path folder)
        : claim(std::move(claim)), api(std::move(api)), folder(std::move(folder)) {}

    CloudClaim claim;
    APIClient api;
    std::filesystem::path folder;
    std::stop_source heartbeat;
    std::optional<CloudReport::Stop> stop;
    bool abandoned = false;
    std::optional<double> recordingSince;
    std::optional<std::string> lastSent;
    bool ended = false;
    bool finished = false;
    std::optional<std::map<std::string, std::string>> finalBody;
    std::shared_ptr<Done> sending; // the latest send
};

// Every thread the runs start. Finished threads are joined when the next one starts, so
// a day of polling does not pile them up; the rest are stopped and joined at the end.
struct CloudRuns::Tasks {
    struct Task {
        std::jthread thread;
        std::shared_ptr<std::atomic<bool>> over;
    };

    // Read and cleared on the main thread only: a posted result runs only while this holds.
    std::shared_ptr<std::atomic<bool>> alive = std::make_shared<std::atomic<bool>>(true);
    std::mutex mutex;
    std::list<Task> running;
    bool closing = false;

    // The thread's stop source, to cancel it alone.
    std::stop_source spawn(std::function<void(std::stop_token)> work) {
        std::lock_guard lock(mutex);
        if (closing) {
            std::stop_source stopped;
            stopped.request_stop();
            return stopped;
        }
        for (auto task = running.begin(); task != running.end();) {
            if (*task->over)
                task = running.erase(task); // joins a thread that has returned
            else
                ++task;
        }
        auto over = std::make_shared<std::atomic<bool>>(false);
        std::jthread thread([work = std::move(work), over](std::stop_token stop) {
            try {
                work(stop);
            } catch (...) {
                // A task reports its own failures; nothing may escape a thread.
            }
            *over = true;
        });
        auto source = thread.get_stop_source();
        running.push_back({std::move(thread), std::move(over)});
        return source;
    }

    void stopAll() {
        std::list<Task> all;
        {
            std::lock_guard lock(mutex);
            closing = true;
            all.swap(running);
        }
        for (auto& task : all) task.thread.request_stop();
        all.clear();
    }
};

CloudRuns::Question CloudRuns::question(const CloudClaim& claim) {
    std::size_t takes = 0;
    std::set<std::string> hosts;
    for (const auto& scene : claim.sheet.scenes) {
        if (scene.kind == "hold") continue;
        ++takes;
        if (!scene.startURL) continue;
        auto parts = URLParts::parse(*scene.startURL);
        if (parts && parts->host && !parts->host->empty()) hosts.insert(*parts->host);
    }
    std::string text = "An assistant that calls itself " + claim.requestedBy + " wants to record " +
                       std::to_string(takes) + (takes == 1 ? " take" : " takes");
    if (!hosts.empty()) {
        std::string joined;
        for (const auto& host : hosts) joined += (joined.empty() ? "" : ", ") + host;
        text += " of " + joined;
    }
    text += " and put them in a video in your account. "
            "It records in Vanto's cloud stage browser, which has none of your tabs or sign-ins, and "
            "only public web pages. Your mouse and keyboard are used while it records.";
    return {"Record a demo for " + claim.requestedBy + "?", text};
}

CloudRuns::CloudRuns(Seams seams, Window& window)
    : seams_(std::move(seams)), window_(window), tasks_(std::make_unique<Tasks>()) {}

CloudRuns::~CloudRuns() {
    // The held run stays on disk: a quit during a run is settled at the next start.
    *tasks_->alive = false;
    tasks_->stopAll();
}

void CloudRuns::later(std::function<void()> work) {
    seams_.mainThread.post([alive = tasks_->alive, work = std::move(work)] {
        if (*alive) work();
    });
}

void CloudRuns::start() {
    settleHeldRun();
    tasks_->spawn([this, &clock = seams_.clock](std::stop_token stop) {
        while (clock.sleep(pollEvery, stop)) later([this] { poll(); });
    });
}

void CloudRuns::settleHeldRun() {
    auto held = HeldRun::read(seams_.heldRunFile);
    if (!held) return;
    auto api = seams_.service();
    if (!api) return;
    HeldRun::clear(seams_.heldRunFile);
    std::error_code ignored;
    std::filesystem::remove_all(seams_.runsFolder / folderName(held->runID), ignored);
    reportOnce(*api, held->runID, held->claimToken, CloudReport::quitDuringTheRun());
}

void CloudRuns::reportOnce(const APIClient& api, const std::string& run, const std::string& claimToken,
                           nlohmann::json body) {
    auto json = CloudReport::encoded(CloudReport::sendable(std::move(body), claimToken, seams_.clock.wallTime()));
    tasks_->spawn([api, run, json](std::stop_token stop) { api.report(run, json, stop); });
}

void CloudRuns::poll() {
    if (active_ || settling_ || asking_) return;
    if (!seams_.defaults.boolValue(acceptKey, true)) return;
    auto api = seams_.service();
    if (!api) return;
    if (window_.isRecording()) return;
    asking_ = true;
    std::optional<std::string> attention;
    if (window_.permissionsMissing()) attention = "permissions";
    tasks_->spawn([this, api = *api, attention](std::stop_token stop) {
        std::optional<CloudClaim> claim;
        try {
            if (auto answer = api.claimRun(attention, stop)) claim = CloudClaim::fromJSON(*answer);
        } catch (const std::exception&) {
            // The next tick asks again.
        }
        if (stop.stop_requested()) return;
        later([this, claim, api] {
            if (claim)
                handle(*claim, api);
            else
                asking_ = false;
        });
    });
}

bool CloudRuns::busy() const {
    return active_ || settling_;
}

std::optional<std::string> CloudRuns::activeRun() const {
    if (!active_) return std::nullopt;
    return active_->claim.id;
}

void CloudRuns::signedOut() {
    if (active_) abandon(active_);
}

void CloudRuns::handle(const CloudClaim& claim, APIClient api) {
    asking_ = false;
    if (claim.resume) {
        // Our own claim offered again: all we can do is tell how it ended.
        if (settling_ && settling_->runID == claim.id) {
            nlohmann::json body(settling_->finalBody);
            reportOnce(api, claim.id, claim.claimToken, std::move(body));
        } else {
            reportOnce(api, claim.id, claim.claimToken, CloudReport::lostTrack());
        }
        return;
    }
    auto run = std::make_shared<Active>(claim, std::move(api), seams_.runsFolder / folderName(claim.id));
    active_ = run;
    try {
        HeldRun{claim.id, claim.claimToken}.save(seams_.heldRunFile);
    } catch (const std::exception&) {
        // Without it a quit goes unreported; the run itself can still go on.
    }
    startHeartbeat(run);
    if (seams_.defaults.boolValue(alwaysAllowedKey, false)) {
        record(run);
        return;
    }
    send(run, CloudReport::asking());
    window_.ask(question(claim), [this, alive = tasks_->alive, run](Answer answer) {
        if (!*alive || run->finished) return;
        if (run->abandoned || run->stop) return finish(run, CloudReport::stoppedBeforeRecording(run->stop));
        switch (answer) {
        case Answer::decline:
            return finish(run, CloudReport::declined());
        case Answer::alwaysAllow:
            try {
                seams_.defaults.set(alwaysAllowedKey, true);
                window_.alwaysAllowedChanged();
            } catch (const std::exception&) {
                // Asked again next time; this run was allowed all the same.
            }
            return record(run);
        case Answer::allow:
            return record(run);
        }
    });
}

void CloudRuns::record(const std::shared_ptr<Active>& run) {
    std::shared_ptr<CloudSheetMaker::Made> made;
    try {
        made = std::make_shared<CloudSheetMaker::Made>(
            CloudSheetMaker(run->claim.sheet, run->folder, window_.screenHeight(), seams_.random, seams_.resolve)
                .make());
    } catch (const std::exception& error) {
        return finish(run, CloudReport::failure("invalid_sheet", error.what()));
    }
    if (!run->claim.intoVideoID) return recordMade(run, made, std::nullopt);
    tasks_->spawn([this, run, made, video = *run->claim.intoVideoID](std::stop_token stop) {
        try {
            auto length = run->api.videoLength(video, stop);
            later([this, run, made, place = DemoProgress::Place{video, length}] { recordMade(run, made, place); });
        } catch (const std::exception& error) {
            if (stop.stop_requested()) return;
            later([this, run, description = std::string(error.what())] {
                finish(run, CloudReport::failure("take_failed", description));
            });
        }
    });
}

void CloudRuns::recordMade(const std::shared_ptr<Active>& run, const std::shared_ptr<CloudSheetMaker::Made>& made,
                           std::optional<DemoProgress::Place> placement) {
    if (run->finished) return;
    if (run->abandoned || run->stop) return finish(run, CloudReport::stoppedBeforeRecording(run->stop));
    run->recordingSince = seams_.clock.now();
    Recording recording{made->sheet,
                        run->folder,
                        run->folder / "report.json",
                        SheetReport::forSheet(made->sheet, seams_.clock.wallTime(), seams_.random),
                        std::make_shared<const CloudPolicy>(made->policy),
                        std::move(placement),
                        nullptr,
                        {},
                        {}};
    try {
        // A sheet without title cards has written nothing into the folder yet.
        std::filesystem::create_directories(run->folder);
        recording.report.write(recording.reportFile);
    } catch (const std::exception&) {
        // The report on disk is for the person; the service hears every state through
        // the observer all the same, and the window says so when a later save fails too.
    }
    const auto& scenes = run->claim.sheet.scenes;
    if (std::any_of(scenes.begin(), scenes.end(), [](const CloudScene& scene) { return scene.driven == true; }))
        recording.driver = std::make_shared<CloudDriver>(run->api, run->claim.id, run->claim.claimToken,
                                                         run->folder / "drive", seams_.clock);
    if (window_.isRecording()) return finish(run, CloudReport::windowBusy());
    auto alive = tasks_->alive;
    recording.saved = [this, alive, run](const SheetReport& report) {
        if (*alive) forward(run, report);
    };
    recording.ended = [this, alive, run] {
        if (*alive) ended(run);
    };
    window_.record(std::move(recording));
}

void CloudRuns::forward(const std::shared_ptr<Active>& run, const SheetReport& report) {
    if (run->finished) return;
    auto body = CloudReport::body(report, CloudReport::stopOf(report, run->stop));
    auto bytes = CloudReport::encoded(body);
    if (run->lastSent == bytes) return;
    run->lastSent = bytes;
    using State = SheetReport::State;
    if (report.state == State::done || report.state == State::failed || report.state == State::refused)
        run->ended = true;
    send(run, std::move(body));
}

void CloudRuns::send(const std::shared_ptr<Active>& run, nlohmann::json body) {
    if (run->abandoned) return;
    body = CloudReport::sendable(std::move(body), run->claim.claimToken, seams_.clock.wallTime());
    const bool final = run->ended;
    if (final) run->finalBody = stringMembers(body);
    auto previous = run->sending;
    auto mine = std::make_shared<Done>();
    run->sending = mine;
    tasks_->spawn([this, run, previous, mine, final, json = CloudReport::encoded(body),
                   &clock = seams_.clock](std::stop_token stop) {
        struct Over {
            Done& done;
            ~Over() { done.set(); }
        } over{*mine};
        if (previous && !previous->wait(stop)) return;
        for (int attempt = 0;; ++attempt) {
            try {
                auto instruction = run->api.report(run->claim.id, json, stop);
                later([this, run, instruction] { obey(run, instruction); });
                return;
            } catch (const std::exception&) {
                if (lostTheRun(std::current_exception())) {
                    later([this, run] { abandon(run); });
                    return;
                }
            }
            // Progress is soon overtaken by the next report; only the result is worth waiting for.
            if (!final || attempt >= finalRetries) return;
            if (!clock.sleep(retryPause * (attempt + 1), stop)) return;
        }
    });
}

void CloudRuns::startHeartbeat(const std::shared_ptr<Active>& run) {
    run->heartbeat = tasks_->spawn([this, run, &clock = seams_.clock](std::stop_token stop) {
        while (clock.sleep(heartbeatEvery, stop)) {
            std::optional<std::string> instruction;
            bool lost = false;
            try {
                instruction = run->api.heartbeat(run->claim.id, run->claim.claimToken, stop);
            } catch (const std::exception&) {
                lost = lostTheRun(std::current_exception());
            }
            if (stop.stop_requested()) return;
            if (lost) {
                later([this, run] { abandon(run); });
                return;
            }
            // The time limit holds even while the service cannot be reached.
            later([this, run, instruction] {
                checkTimeLimit(run);
                obey(run, instruction);
            });
        }
    });
}

void CloudRuns::checkTimeLimit(const std::shared_ptr<Active>& run) {
    if (run != active_ || !run->recordingSince || run->stop) return;
    auto seconds = seams_.clock.now() - *run->recordingSince;
    if (seconds > static_cast<double>(run->claim.runMs()) / 1000) {
        run->stop = CloudReport::Stop::tooLong;
        window_.stopCloudTake();
    }
}

void CloudRuns::obey(const std::shared_ptr<Active>& run, const std::optional<std::string>& instruction) {
    if (!instruction || run != active_ || run->stop || run->ended) return;
    run->stop = CloudReport::stopFor(*instruction);
    // Before recording the stop is seen when the question is answered or the sheet is made.
    if (run->recordingSince) window_.stopCloudTake();
}

void CloudRuns::abandon(const std::shared_ptr<Active>& run) {
    if (run->abandoned) return;
    run->abandoned = true;
    if (run == active_ && run->recordingSince && !run->finished) window_.stopCloudTake();
}

void CloudRuns::ended(const std::shared_ptr<Active>& run) {
    if (run->finished) return;
    if (!run->ended) return finish(run, CloudReport::endedWithoutFinishing());
    finish(run, std::nullopt);
}

void CloudRuns::finish(const std::shared_ptr<Active>& run, std::optional<nlohmann::json> saying) {
    if (run->finished) return;
    if (saying) {
        run->ended = true;
        send(run, std::move(*saying));
    }
    run->finished = true;
    run->heartbeat.request_stop();
    HeldRun::clear(seams_.heldRunFile);
    if (active_ == run) active_.reset();
    if (!run->abandoned && run->finalBody) settling_ = Settling{run->claim.id, run->claim.claimToken, *run->finalBody};
    tasks_->spawn([this, last = run->sending, folder = run->folder, id = run->claim.id](std::stop_token stop) {
        if (last && !last->wait(stop)) return;
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        later([this, id] {
            if (settling_ && settling_->runID == id) settling_.reset();
        });
    });
}

} // namespace vanto
