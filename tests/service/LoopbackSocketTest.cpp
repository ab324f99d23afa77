// The callback server on real loopback sockets: what arrives in pieces, what is too
// large, how many connections it serves, and its CORS answers to a real HTTP client.

#include "platform/fake/FakePlatform.h"
#include "platform/linux/CurlHttp.h"
#include "platform/linux/PosixListener.h"
#include "service/LoopbackServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

namespace vanto {
namespace {

constexpr const char* origin = "http://127.0.0.1:3000";
constexpr const char* state = "00112233445566778899aabbccddeeff";

// A client socket of the test's own, for sending requests in exactly the pieces wanted.
class Client {
public:
    explicit Client(std::uint16_t port, in_addr_t address = htonl(INADDR_LOOPBACK)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = address;
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    }
    ~Client() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool connected() const { return connected_; }
    void send(const std::string& bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    // Without waiting; false when the server takes no more.
    bool trySend(const std::string& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT) > 0;
    }
    // True when bytes (or the end) arrive within the time.
    bool readable(int milliseconds) {
        pollfd wanted{fd_, POLLIN, 0};
        return ::poll(&wanted, 1, milliseconds) > 0;
    }
    // Everything until the server closes.
    std::string answer() {
        std::string out;
        char buffer[4096];
        while (readable(5000)) {
            auto count = ::recv(fd_, buffer, sizeof buffer, 0);
            if (count <= 0) break;
            out.append(buffer, static_cast<std::size_t>(count));
        }
        return out;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

std::string callbackBody(const std::string& token, const std::string& withState = state) {
    return R"({"token":")" + token + R"(","state":")" + withState + R"("})";
}

class LoopbackSocketTest : public ::testing::Test {
protected:
    PosixLoopbackNetwork network;
    SystemClock clock;
    LoopbackServer server{network, clock, origin, state};
    std::uint16_t port = server.start();
};

TEST_F(LoopbackSocketTest, aRequestInPiecesIsAnsweredOnceAfterTheLastByteOfItsBody) {
    auto body = callbackBody("tok-in-pieces");
    Client client(port);
    ASSERT_TRUE(client.connected());
    client.send("POST /callback HTTP/1.1\r\nHost: 127.0.0.1\r\ncontent-LENGTH: " + std::to_string(body.size()));
    EXPECT_FALSE(client.readable(100));
    client.send("\r\n\r\n");
    EXPECT_FALSE(client.readable(100));
    client.send(body.substr(0, 10));
    EXPECT_FALSE(client.readable(100)) << "answered before the body was whole";
    client.send(body.substr(10));
    auto answer = client.answer();
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << answer;
    EXPECT_TRUE(answer.ends_with(R"({"ok":true})")) << "exactly one answer, then the connection closes";
    EXPECT_EQ(server.awaitToken(5), "tok-in-pieces");
}

TEST_F(LoopbackSocketTest, anEndlessRequestIsRefusedWithinTheBoundAndTheConnectionClosed) {
    Client client(port);
    std::string piece(8192, 'h');
    // Head bytes that never end; the server must stop taking them and say so.
    for (std::size_t sent = 0; sent < 64 * LoopbackServer::maxRequestBytes && !client.readable(0);) {
        if (!client.trySend(piece)) break;
        sent += piece.size();
    }
    auto answer = client.answer();
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 413 Content Too Large\r\n")) << answer.substr(0, 80);
    EXPECT_TRUE(answer.ends_with(R"({"error":"request too large"})"));
}

TEST_F(LoopbackSocketTest, aRealClientsPreflightAndCallbackPassTheCorsContract) {
    CurlHttp http;
    Http::Request preflight;
    preflight.method = "OPTIONS";
    preflight.url = "http://127.0.0.1:" + std::to_string(port) + "/callback";
    preflight.headers = {{"Origin", origin},
                         {"Access-Control-Request-Method", "POST"},
                         {"Access-Control-Request-Headers", "content-type"}};
    auto allowed = http.send(preflight);
    EXPECT_EQ(allowed.status, 204);
    EXPECT_EQ(allowed.header("access-control-allow-origin"), origin);
    EXPECT_EQ(allowed.header("access-control-allow-methods"), "POST, OPTIONS");
    EXPECT_EQ(allowed.header("access-control-allow-headers"), "Content-Type");
    EXPECT_EQ(allowed.header("access-control-allow-private-network"), "true");
    EXPECT_EQ(allowed.header("access-control-max-age"), "600");

    preflight.headers = {{"Origin", "http://evil.test"}};
    auto foreign = http.send(preflight);
    EXPECT_EQ(foreign.status, 204);
    EXPECT_FALSE(foreign.header("access-control-allow-origin"));

    Http::Request post;
    post.method = "POST";
    post.url = preflight.url;
    post.headers = {{"Origin", origin}, {"Content-Type", "application/json"}};
    post.body = callbackBody("tok-wrong-state", "ffffffffffffffffffffffffffffffff");
    auto refused = http.send(post);
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.body, R"({"error":"state mismatch"})");
    post.body = callbackBody("tok-right-state");
    auto accepted = http.send(post);
    EXPECT_EQ(accepted.status, 200);
    EXPECT_EQ(accepted.header("access-control-allow-origin"), origin);
    EXPECT_EQ(server.awaitToken(5), "tok-right-state");
}

TEST_F(LoopbackSocketTest, onlyTheLoopbackAddressIsListenedOn) {
    ifaddrs* interfaces = nullptr;
    ASSERT_EQ(::getifaddrs(&interfaces), 0);
    int tried = 0;
    for (auto* at = interfaces; at; at = at->ifa_next) {
        if (!at->ifa_addr || at->ifa_addr->sa_family != AF_INET) continue;
        auto address = reinterpret_cast<sockaddr_in*>(at->ifa_addr)->sin_addr.s_addr;
        if ((ntohl(address) >> 24) == 127) continue;
        Client other(port, address);
        EXPECT_FALSE(other.connected()) << "reachable through " << at->ifa_name;
        ++tried;
    }
    ::freeifaddrs(interfaces);
    if (tried == 0) GTEST_SKIP() << "this machine has no other IPv4 address to try";
}

TEST_F(LoopbackSocketTest, stalledConnectionsInEverySlotMakeWayForTheCallback) {
    std::vector<std::unique_ptr<Client>> stalled;
    for (std::size_t i = 0; i < LoopbackServer::maxConnections; ++i) {
        stalled.push_back(std::make_unique<Client>(port));
        stalled.back()->send("P"); // started, never finished
    }
    // Give the server time to take them all in.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    Client callback(port);
    ASSERT_TRUE(callback.connected());
    auto body = callbackBody("tok-past-the-crowd");
    callback.send("POST /callback HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_TRUE(callback.answer().starts_with("HTTP/1.1 200 OK")) << "the callback found no slot";
    EXPECT_EQ(server.awaitToken(5), "tok-past-the-crowd");
    EXPECT_EQ(stalled.front()->answer(), "") << "the longest waiting was let go, unanswered";
}

TEST_F(LoopbackSocketTest, answeredConnectionsThatStayOpenAlsoMakeWayForTheCallback) {
    std::vector<std::unique_ptr<Client>> lingering;
    for (std::size_t i = 0; i < LoopbackServer::maxConnections; ++i) {
        lingering.push_back(std::make_unique<Client>(port));
        lingering.back()->send("NONSENSE\r\n");
        ASSERT_TRUE(lingering.back()->readable(5000));
    }
    // Each keeps sending after its answer, so the server keeps draining it.
    for (auto& client : lingering) client->trySend("more");
    Client callback(port);
    auto body = callbackBody("tok-past-the-lingering");
    callback.send("POST /callback HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_TRUE(callback.answer().starts_with("HTTP/1.1 200 OK")) << "the callback found no slot";
    EXPECT_EQ(server.awaitToken(5), "tok-past-the-lingering");
}

TEST_F(LoopbackSocketTest, requestsThatCanNeverBeServedAreAnsweredAndTheServerGoesOn) {
    const std::string chunked = "POST /callback HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (std::string size : {"ffffffffffffffff", "fffffffffffffffe", "FFFFFFFFFFFFFFFF", "ffffffffffffffff;ext"}) {
        Client client(port);
        client.send(chunked + size + "\r\n{\"token\":\"x\"}\r\n");
        EXPECT_TRUE(client.answer().starts_with("HTTP/1.1 413 Content Too Large\r\n")) << size;
    }
    Client garbage(port);
    garbage.send("NONSENSE\r\n");
    EXPECT_TRUE(garbage.answer().starts_with("HTTP/1.1 400 Bad Request\r\n"));
    Client after(port);
    auto body = callbackBody("tok-after-the-abuse");
    after.send("POST /callback HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_TRUE(after.answer().starts_with("HTTP/1.1 200 OK"));
    EXPECT_EQ(server.awaitToken(5), "tok-after-the-abuse");
}

TEST_F(LoopbackSocketTest, cancelEndsPromptlyWhileAClientHoldsAConnectionOpen) {
    Client holding(port);
    holding.send("POST /callback HTTP/1.1\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto start = std::chrono::steady_clock::now();
    server.cancel();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(holding.answer(), "");
    Client late(port);
    EXPECT_FALSE(late.connected()) << "nobody listens after cancel";
}

// A server of the test's own that answers one request with the body's bytes paced
// as given: a byte every interval, then silence.
class PacedServer {
public:
    PacedServer(std::string body, std::chrono::milliseconds interval, bool stallAfterHead)
        : listener_(network_.listen()), port_(listener_->port()) {
        thread_ = std::jthread([this, body, interval, stallAfterHead] {
            auto connection = listener_->accept();
            if (!connection) return;
            std::string received;
            std::vector<std::uint8_t> buffer(4096);
            while (received.find("\r\n\r\n") == std::string::npos) {
                auto count = connection->receive(buffer, 5);
                if (!count || *count == 0) return;
                received.append(reinterpret_cast<const char*>(buffer.data()), *count);
            }
            connection->send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n");
            if (stallAfterHead) {
                connection->receive(buffer, 10); // until the client gives up and closes
                return;
            }
            for (char c : body) {
                std::this_thread::sleep_for(interval);
                if (!connection->send(std::string(1, c))) return;
            }
            connection->finish();
        });
    }
    ~PacedServer() { listener_->cancel(); }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/slow"; }

private:
    PosixLoopbackNetwork network_;
    std::unique_ptr<Listener> listener_;
    std::uint16_t port_;
    std::jthread thread_;
};

TEST(CurlOverLoopback, theTimeOutIsOnSilenceSoASlowSteadyAnswerStillArrives) {
    CurlHttp http;
    // A byte every quarter second for four seconds, against a two-second time-out: curl
    // samples its speed about once a second, so a shorter time-out would judge a slow
    // machine's first sample rather than the steady answer.
    PacedServer steady("0123456789abcdef", std::chrono::milliseconds(250), false);
    Http::Request request;
    request.url = steady.url();
    request.timeout = 2; // far less than the whole answer takes
    EXPECT_EQ(http.send(request).body, "0123456789abcdef");

    PacedServer silent("never sent", std::chrono::milliseconds(0), true);
    request.url = silent.url();
    try {
        http.send(request);
        FAIL() << "a silent answer was waited for without end";
    } catch (const HttpTransportError& error) {
        EXPECT_EQ(error.kind(), HttpTransportError::Case::timedOut);
    }
}

} // namespace
} // namespace vanto
