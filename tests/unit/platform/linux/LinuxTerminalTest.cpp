#include "platform/linux/LinuxTerminal.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

using vanto::LinuxTerminal;
using namespace std::chrono_literals;

namespace {

struct Pipe {
    Pipe() { EXPECT_EQ(::pipe(ends), 0); }
    ~Pipe() {
        for (int fd : ends)
            if (fd >= 0) ::close(fd);
    }
    void write(std::string_view bytes) {
        ASSERT_EQ(::write(ends[1], bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    void closeWriting() {
        ::close(ends[1]);
        ends[1] = -1;
    }
    int ends[2] = {-1, -1};
};

} // namespace

TEST(LinuxTerminal, readsOneLineAtATimeAndGivesUpWhenStopped) {
    Pipe input;
    LinuxTerminal terminal(input.ends[0]);
    EXPECT_FALSE(terminal.inputIsTerminal());
    input.write("yes\nn");
    EXPECT_EQ(terminal.readLine({}), "yes");
    input.closeWriting();
    EXPECT_EQ(terminal.readLine({}), "n") << "a last line without its line break is still a line";
    EXPECT_EQ(terminal.readLine({}), std::nullopt);

    // Nobody types: a stop from another thread ends the wait.
    Pipe silent;
    LinuxTerminal waiting(silent.ends[0]);
    std::stop_source stop;
    auto read = std::async(std::launch::async, [&] { return waiting.readLine(stop.get_token()); });
    std::this_thread::sleep_for(50ms); // usually inside poll() by now; either way it must end
    stop.request_stop();
    ASSERT_EQ(read.wait_for(10s), std::future_status::ready) << "the read ignored the stop";
    EXPECT_EQ(read.get(), std::nullopt);
    silent.write("late\n");
    EXPECT_EQ(waiting.readLine({}), "late") << "the stopped read took input meant for later";
}

TEST(LinuxTerminal, interruptsAndTerminationRequestsReachTheWatcherOnItsOwnThread) {
    struct sigaction before {};
    ::sigaction(SIGINT, nullptr, &before);
    LinuxTerminal terminal;
    std::mutex mutex;
    std::vector<std::thread::id> callers;
    std::promise<void> twice;
    terminal.watchInterrupts([&] {
        std::lock_guard lock(mutex);
        callers.push_back(std::this_thread::get_id());
        if (callers.size() == 2) twice.set_value();
    });
    ::kill(::getpid(), SIGINT);
    ::kill(::getpid(), SIGTERM);
    ASSERT_EQ(twice.get_future().wait_for(10s), std::future_status::ready) << "an interrupt was not heard";
    terminal.unwatchInterrupts();
    EXPECT_NE(callers.at(0), std::this_thread::get_id());

    // Afterwards Ctrl-C does what it did before.
    struct sigaction after {};
    ::sigaction(SIGINT, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}
