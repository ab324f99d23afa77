#include "platform/linux/PosixListener.h"

#include "platform/linux/UniqueFd.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <system_error>

namespace vanto {
namespace {

[[noreturn]] void systemError(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

int milliseconds(double seconds) {
    if (!(seconds > 0)) return 0;
    return seconds > 86400 ? 86'400'000 : static_cast<int>(std::ceil(seconds * 1000));
}

class PosixConnection final : public Connection {
public:
    explicit PosixConnection(UniqueFd fd) : fd_(std::move(fd)) {
        // A peer that stops reading must not hold the answer forever.
        timeval limit{5, 0};
        ::setsockopt(fd_.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }

    std::optional<std::size_t> receive(std::span<std::uint8_t> buffer, double idleSeconds) override {
        if (interrupted_) return std::nullopt;
        pollfd wanted{fd_.get(), POLLIN, 0};
        int ready;
        do ready = ::poll(&wanted, 1, milliseconds(idleSeconds));
        while (ready < 0 && errno == EINTR);
        if (ready <= 0 || interrupted_) return std::nullopt;
        ssize_t count;
        do count = ::recv(fd_.get(), buffer.data(), buffer.size(), 0);
        while (count < 0 && errno == EINTR);
        if (count < 0 || interrupted_) return std::nullopt;
        return static_cast<std::size_t>(count);
    }

    bool send(std::string_view bytes) override {
        while (!bytes.empty()) {
            ssize_t sent = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR) continue;
            if (sent <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }

    void finish() override {
        ::shutdown(fd_.get(), SHUT_WR);
        std::uint8_t sink[4096];
        for (int rounds = 0; rounds < 64 && !interrupted_; ++rounds) {
            pollfd wanted{fd_.get(), POLLIN, 0};
            if (::poll(&wanted, 1, 1000) <= 0) return;
            ssize_t count = ::recv(fd_.get(), sink, sizeof sink, 0);
            if (count <= 0) return;
        }
    }

    void interrupt() override {
        interrupted_ = true;
        // Shutting down (not closing) wakes a poll on another thread while the descriptor
        // stays valid until this object goes.
        ::shutdown(fd_.get(), SHUT_RDWR);
    }

private:
    UniqueFd fd_;
    std::atomic<bool> interrupted_{false};
};

class PosixListener final : public Listener {
public:
    PosixListener() {
        socket_ = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!socket_) systemError("socket");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = 0;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) systemError("bind");
        if (::listen(socket_.get(), 16) != 0) systemError("listen");
        socklen_t length = sizeof address;
        if (::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
            systemError("getsockname");
        port_ = ntohs(address.sin_port);
        wake_ = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!wake_) systemError("eventfd");
    }

    std::uint16_t port() override { return port_; }

    std::unique_ptr<Connection> accept() override {
        while (!cancelled_) {
            pollfd wanted[2] = {{socket_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
            int ready = ::poll(wanted, 2, -1);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0 || cancelled_ || (wanted[1].revents & POLLIN)) return nullptr;
            if (wanted[0].revents & (POLLERR | POLLNVAL)) return nullptr;
            if (!(wanted[0].revents & POLLIN)) continue;
            UniqueFd peer(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (peer) return std::make_unique<PosixConnection>(std::move(peer));
            // A peer that gave up before we took it is no reason to stop listening.
            if (errno == ECONNABORTED || errno == EINTR || errno == EAGAIN || errno == EPROTO) continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                ::poll(nullptr, 0, 50);
                continue;
            }
            return nullptr;
        }
        return nullptr;
    }

    void cancel() override {
        cancelled_ = true;
        std::uint64_t one = 1;
        (void)!::write(wake_.get(), &one, sizeof one);
    }

private:
    UniqueFd socket_;
    UniqueFd wake_;
    std::uint16_t port_ = 0;
    std::atomic<bool> cancelled_{false};
};

} // namespace

std::unique_ptr<Listener> PosixLoopbackNetwork::listen() {
    return std::make_unique<PosixListener>();
}

} // namespace vanto
