#include "platform/linux/LinuxTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <system_error>

namespace vanto {
namespace {

constexpr std::array<int, 2> watchedSignals{SIGINT, SIGTERM};
constexpr unsigned char interrupted = 1;
constexpr unsigned char quitWatching = 0;

// The pipe's write end for the handler; -1 when nobody watches.
std::atomic<int> interruptPipe{-1};
struct sigaction previous[watchedSignals.size()];

extern "C" void onSignal(int) {
    const int saved = errno;
    if (const int fd = interruptPipe.load(); fd >= 0) (void)!::write(fd, &interrupted, 1);
    errno = saved;
}

} // namespace

LinuxTerminal::~LinuxTerminal() {
    unwatchInterrupts();
}

bool LinuxTerminal::inputIsTerminal() {
    return ::isatty(input_) == 1;
}

std::optional<std::string> LinuxTerminal::readLine(std::stop_token stop) {
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake) throw std::system_error(errno, std::generic_category(), "eventfd");
    std::stop_callback onStop(stop, [&wake] {
        const std::uint64_t one = 1;
        (void)!::write(wake.get(), &one, sizeof one);
    });
    // Byte by byte, so that nothing after the line is taken from whoever reads next.
    std::string line;
    for (;;) {
        if (stop.stop_requested()) return std::nullopt;
        std::array<pollfd, 2> waits{pollfd{input_, POLLIN, 0}, pollfd{wake.get(), POLLIN, 0}};
        if (::poll(waits.data(), waits.size(), -1) < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "poll");
        }
        if (waits[1].revents != 0) return std::nullopt;
        if (waits[0].revents == 0) continue;
        char c = 0;
        const ssize_t count = ::read(input_, &c, 1);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        // At the end of input (or when it cannot be read) a started line still counts.
        if (count <= 0) return line.empty() ? std::nullopt : std::optional<std::string>(line);
        if (c == '\n') return line;
        line += c;
    }
}

void LinuxTerminal::watchInterrupts(std::function<void()> onInterrupt) {
    std::lock_guard lock(mutex_);
    if (watcher_.joinable()) throw std::logic_error("interrupts are watched already");
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    readEnd_ = UniqueFd(ends[0]);
    writeEnd_ = UniqueFd(ends[1]);
    // The handler must never block, even with a full pipe: a lost byte is a lost repeat.
    ::fcntl(writeEnd_.get(), F_SETFL, ::fcntl(writeEnd_.get(), F_GETFL) | O_NONBLOCK);
    interruptPipe = writeEnd_.get();
    watcher_ = std::thread([fd = readEnd_.get(), onInterrupt = std::move(onInterrupt)] {
        for (;;) {
            unsigned char byte = quitWatching;
            const ssize_t count = ::read(fd, &byte, 1);
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0 || byte == quitWatching) return;
            onInterrupt();
        }
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigemptyset(&action.sa_mask);
    // Restarted, so that the other threads' reads and writes do not fail because of it.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < watchedSignals.size(); ++i) ::sigaction(watchedSignals[i], &action, &previous[i]);
}

void LinuxTerminal::unwatchInterrupts() {
    std::lock_guard lock(mutex_);
    if (!watcher_.joinable()) return;
    for (std::size_t i = 0; i < watchedSignals.size(); ++i) ::sigaction(watchedSignals[i], &previous[i], nullptr);
    interruptPipe = -1;
    // Blocking now: the quit byte must arrive, after any interrupts still in the pipe.
    ::fcntl(writeEnd_.get(), F_SETFL, ::fcntl(writeEnd_.get(), F_GETFL) & ~O_NONBLOCK);
    (void)!::write(writeEnd_.get(), &quitWatching, 1);
    watcher_.join();
    readEnd_.reset();
    writeEnd_.reset();
}

void LinuxTerminal::endProcess(int status) {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    ::_exit(status);
}

} // namespace vanto
