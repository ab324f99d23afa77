#include "platform/linux/LinuxHandoff.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace vanto {
namespace {

// A request is one short line; a peer that says nothing for this long is dropped, and
// an offer whose window does not answer in time counts as not taken.
constexpr int requestIdleMs = 5000;
constexpr int answerIdleMs = 10000;

// The session's runtime folder is the person's alone. Where the session has none (a
// bare X server, a remote login), a folder of the person's own under /tmp stands in,
// used only when nobody else owns or can enter it.
std::optional<std::filesystem::path> runtimeFolder() {
    if (const char* value = std::getenv("XDG_RUNTIME_DIR"); value && *value) {
        std::filesystem::path folder(value);
        if (folder.is_absolute()) return folder;
    }
    std::filesystem::path folder = "/tmp/vanto-" + std::to_string(::getuid());
    ::mkdir(folder.c_str(), 0700);
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid() ||
        (info.st_mode & 077) != 0)
        return std::nullopt;
    return folder;
}

std::string displayVariable() {
    const char* value = std::getenv("DISPLAY");
    return value ? value : "";
}

// ":0" and ":0.0" are the same desktop; anything but letters, digits, "." and "-" is
// kept out of the file name.
std::string displayKey(const std::string& display) {
    std::string key = display;
    if (auto colon = key.rfind(':'); colon != std::string::npos)
        if (auto dot = key.find('.', colon); dot != std::string::npos) key.resize(dot);
    if (key.empty()) return "none";
    for (char& c : key)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-'))
            c = '_';
    return key;
}

bool addressOf(const std::filesystem::path& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    const auto& text = path.native();
    if (text.empty() || text.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return true;
}

// Only the person who runs this program may hand it requests, or answer its offers.
bool peerIsThisPerson(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
}

// Waits for fd to be readable; false on a timeout, an error, or a wake on `wake`.
bool readable(int fd, int wake, int timeoutMs) {
    pollfd wanted[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
    int ready;
    do ready = ::poll(wanted, wake >= 0 ? 2 : 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    return ready > 0 && !(wake >= 0 && wanted[1].revents) && wanted[0].revents;
}

// One line without its line feed; the end of the stream also ends a line. None when
// nothing came in time, on an error, or when the line is longer than the limit.
std::optional<std::string> readLine(int fd, int wake, int idleMs) {
    std::string line;
    char buffer[4096];
    for (;;) {
        if (!readable(fd, wake, idleMs)) return std::nullopt;
        ssize_t count;
        do count = ::recv(fd, buffer, sizeof buffer, 0);
        while (count < 0 && errno == EINTR);
        if (count < 0) return std::nullopt;
        if (count == 0) return line.empty() ? std::nullopt : std::optional(line);
        line.append(buffer, static_cast<std::size_t>(count));
        if (auto end = line.find('\n'); end != std::string::npos) {
            line.resize(end);
            return line;
        }
        if (line.size() > handoff::longestLine) return std::nullopt;
    }
}

bool sendAll(int fd, std::string bytes) {
    std::string_view rest(bytes);
    while (!rest.empty()) {
        ssize_t sent = ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        rest.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

} // namespace

LinuxHandoff::LinuxHandoff() : LinuxHandoff(runtimeFolder(), displayVariable()) {}

LinuxHandoff::LinuxHandoff(std::optional<std::filesystem::path> folder, const std::string& display) {
    if (!folder) return;
    const auto name = "vanto-window-" + displayKey(display);
    socket_ = *folder / (name + ".sock");
    lock_ = *folder / (name + ".lock");
}

LinuxHandoff::~LinuxHandoff() {
    stop();
}

bool LinuxHandoff::offer(const HandoffRequest& request) {
    sockaddr_un address;
    if (!addressOf(socket_, address)) return false;
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return false;
    int connected;
    do connected = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    while (connected < 0 && errno == EINTR);
    // No socket, or one nobody listens on any more: there is no window to take it.
    if (connected < 0) return false;
    if (!peerIsThisPerson(fd.get())) return false;
    if (!sendAll(fd.get(), handoff::encode(request) + "\n")) return false;
    auto answer = readLine(fd.get(), -1, answerIdleMs);
    return answer && handoff::wasTaken(*answer);
}

bool LinuxHandoff::listen(Take take) {
    std::lock_guard guard(mutex_);
    if (held_) return false;
    sockaddr_un address;
    if (!addressOf(socket_, address)) return false;
    UniqueFd lock(::open(lock_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock) return false;
    int locked;
    do locked = ::flock(lock.get(), LOCK_EX | LOCK_NB);
    while (locked < 0 && errno == EINTR);
    if (locked < 0) return false; // another window holds it
    // Holding the lock, any socket file there is a dead window's.
    ::unlink(socket_.c_str());
    UniqueFd listening(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listening) return false;
    if (::bind(listening.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) return false;
    ::chmod(socket_.c_str(), 0600);
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC));
    if (::listen(listening.get(), 8) < 0 || !wake) {
        ::unlink(socket_.c_str());
        return false;
    }
    held_ = std::move(lock);
    listening_ = std::move(listening);
    wake_ = std::move(wake);
    server_ = std::thread([this, listeningFd = listening_.get(), wakeFd = wake_.get(), take = std::move(take)] {
        serve(listeningFd, wakeFd, take);
    });
    return true;
}

void LinuxHandoff::stop() {
    std::lock_guard guard(mutex_);
    if (!held_) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wake_.get(), &one, sizeof one);
    if (server_.joinable()) server_.join();
    ::unlink(socket_.c_str());
    listening_.reset();
    wake_.reset();
    held_.reset(); // the next window may listen from here on
}

void LinuxHandoff::serve(int listening, int wake, Take take) {
    for (;;) {
        if (!readable(listening, wake, -1)) {
            // Woken to stop, or the socket failed: either way nobody is served any more.
            return;
        }
        UniqueFd connection(::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC));
        if (!connection) continue;
        answer(connection.get(), wake, take);
    }
}

void LinuxHandoff::answer(int connection, int wake, const Take& take) {
    timeval limit{5, 0}; // a peer that stops reading must not hold this thread
    ::setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (!peerIsThisPerson(connection)) return;
    auto line = readLine(connection, wake, requestIdleMs);
    if (!line) return;
    auto decoded = handoff::decode(*line);
    if (!decoded.request) {
        sendAll(connection, handoff::refused(decoded.error) + "\n");
        return;
    }
    take(std::move(*decoded.request));
    sendAll(connection, handoff::taken() + "\n");
}

} // namespace vanto
