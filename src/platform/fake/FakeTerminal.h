#pragma once

#include "platform/Terminal.h"

#include <deque>
#include <mutex>
#include <utility>

namespace vanto::fake {

// Standard input and the interrupt key as a test scripts them. Interrupts arrive on
// the thread that calls interrupt(), so a test decides exactly when they come.
class FakeTerminal final : public Terminal {
public:
    // Thrown where the process would have ended.
    struct ProcessEnded {
        int status = 0;
    };

    bool inputIsTerminal() override { return isTerminal; }

    std::optional<std::string> readLine(std::stop_token) override {
        std::function<void()> waiting;
        {
            std::lock_guard lock(mutex_);
            ++reads;
            if (!lines.empty()) {
                auto line = std::move(lines.front());
                lines.pop_front();
                return line;
            }
            waiting = whileWaiting;
        }
        // Nobody has typed anything: what happens meanwhile happens (a stop, say), and
        // then the read ends without a line, as it does once stopped or at the end of input.
        if (waiting) waiting();
        return std::nullopt;
    }

    void watchInterrupts(std::function<void()> onInterrupt) override {
        std::lock_guard lock(mutex_);
        onInterrupt_ = std::move(onInterrupt);
    }
    void unwatchInterrupts() override {
        std::lock_guard lock(mutex_);
        onInterrupt_ = nullptr;
    }

    [[noreturn]] void endProcess(int status) override {
        {
            std::lock_guard lock(mutex_);
            endedWith = status;
        }
        throw ProcessEnded{status};
    }

    // Ctrl-C; false when nobody watches for it (the process would have ended).
    bool interrupt() {
        std::function<void()> watcher;
        {
            std::lock_guard lock(mutex_);
            watcher = onInterrupt_;
        }
        if (!watcher) return false;
        watcher();
        return true;
    }

    bool isTerminal = false;
    // What the person types, line by line; none stands for the end of input.
    std::deque<std::optional<std::string>> lines;
    // Runs when a line is asked for and none is queued.
    std::function<void()> whileWaiting;
    int reads = 0;
    std::optional<int> endedWith;

private:
    std::mutex mutex_;
    std::function<void()> onInterrupt_;
};

} // namespace vanto::fake
