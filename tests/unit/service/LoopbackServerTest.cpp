#include "service/LoopbackServer.h"

#include "platform/fake/FakePlatform.h"
#include "platform/fake/QuietNetwork.h"
#include "service/ConnectError.h"
#include "service/UploadError.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <utility>

namespace vanto {
namespace {

constexpr const char* origin = "http://app.vanto.test";
constexpr const char* state = "0123456789abcdef0123456789abcdef";

std::string callback(const std::string& body, const std::string& from = origin, const std::string& path = "/callback") {
    return "POST " + path + " HTTP/1.1\r\nOrigin: " + from +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string goodCallback(const std::string& token = "tok-from-page") {
    return callback(R"({"token":")" + token + R"(","state":")" + state + R"("})");
}

class LoopbackServerTest : public ::testing::Test {
protected:
    fake::QuietNetwork network;
    fake::VirtualClock clock;
    LoopbackServer server{network, clock, origin, state};
};

TEST_F(LoopbackServerTest, startGivesTheListenersPortAndARefusedListenerIsListenFailed) {
    EXPECT_EQ(server.start(), 4711);

    network.refuse = true;
    try {
        LoopbackServer refused(network, clock, origin, state);
        FAIL();
    } catch (const ConnectError& error) {
        EXPECT_STREQ(error.what(), "could not listen on 127.0.0.1 for the connect callback");
    }
    network.refuse = false;
    network.port = 0;
    LoopbackServer portless(network, clock, origin, state);
    EXPECT_THROW(portless.start(), ConnectError);
}

TEST_F(LoopbackServerTest, aPreflightFromTheAllowedOriginGetsAllFiveCorsHeaders) {
    auto answer = server.answer("OPTIONS /callback HTTP/1.1\r\nOrigin: http://app.vanto.test\r\n"
                                "Access-Control-Request-Method: POST\r\n\r\n");
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, "HTTP/1.1 204 No Content\r\n"
                       "Content-Type: application/json\r\n"
                       "Content-Length: 0\r\n"
                       "Access-Control-Allow-Origin: http://app.vanto.test\r\n"
                       "Access-Control-Allow-Methods: POST, OPTIONS\r\n"
                       "Access-Control-Allow-Headers: Content-Type\r\n"
                       "Access-Control-Allow-Private-Network: true\r\n"
                       "Access-Control-Max-Age: 600\r\n"
                       "Connection: close\r\n\r\n");
}

TEST_F(LoopbackServerTest, theSameRequestFromAnotherOriginGetsNoCorsHeaders) {
    for (std::string from : {"http://evil.test", "http://app.vanto.test.evil.test", "HTTP://APP.VANTO.TEST", ""}) {
        auto answer = server.answer("OPTIONS /callback HTTP/1.1\r\nOrigin: " + from + "\r\n\r\n");
        ASSERT_TRUE(answer);
        EXPECT_TRUE(answer->starts_with("HTTP/1.1 204 No Content\r\n")) << from;
        EXPECT_EQ(answer->find("Access-Control"), std::string::npos) << from;
    }
    auto posted = server.answer(callback(R"({"token":"t","state":"x"})", "http://evil.test"));
    EXPECT_EQ(posted->find("Access-Control"), std::string::npos);
}

TEST_F(LoopbackServerTest, foreignAndMalformedRequestsAreAnsweredAndChangeNothing) {
    auto get = server.answer("GET /callback HTTP/1.1\r\n\r\n");
    EXPECT_EQ(*get, "HTTP/1.1 404 Not Found\r\nContent-Type: application/json\r\nContent-Length: 21\r\n"
                    "Connection: close\r\n\r\n{\"error\":\"not found\"}");
    EXPECT_TRUE(server.answer(callback("{}", origin, "/other"))->starts_with("HTTP/1.1 404 Not Found"));
    for (std::string body : {"not json", "[]", R"({"token":"t"})", R"({"state":"s"})", R"({"token":1,"state":"s"})",
                             R"({"token":"t","state":null})"}) {
        auto answer = server.answer(callback(body));
        ASSERT_TRUE(answer);
        EXPECT_TRUE(answer->starts_with("HTTP/1.1 400 Bad Request\r\n")) << body;
        EXPECT_TRUE(answer->ends_with(R"({"error":"token and state are required"})")) << body;
    }
    EXPECT_THROW(server.awaitToken(0), ConnectError) << "nothing settled it";
}

TEST_F(LoopbackServerTest, theWrongStateIs403AndTheRightOneThenCompletes) {
    auto wrong = server.answer(callback(R"({"token":"tok-wrong","state":"ffffffffffffffffffffffffffffffff"})"));
    ASSERT_TRUE(wrong);
    EXPECT_TRUE(wrong->starts_with("HTTP/1.1 403 Forbidden\r\n"));
    EXPECT_TRUE(wrong->ends_with(R"({"error":"state mismatch"})"));
    EXPECT_NE(wrong->find("Access-Control-Allow-Origin: http://app.vanto.test\r\n"), std::string::npos);

    auto right = server.answer(goodCallback("tok-right"));
    ASSERT_TRUE(right);
    EXPECT_TRUE(right->starts_with("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(right->ends_with(R"({"ok":true})"));
    EXPECT_EQ(server.awaitToken(180), "tok-right");
}

TEST_F(LoopbackServerTest, aQueryAfterTheCallbackPathIsAccepted) {
    auto answer = server.answer(
        callback(R"({"token":"tok-q","state":")" + std::string(state) + R"("})", origin, "/callback?from=page"));
    EXPECT_TRUE(answer->starts_with("HTTP/1.1 200 OK"));
    EXPECT_EQ(server.awaitToken(1), "tok-q");
}

TEST_F(LoopbackServerTest, anIncompleteRequestWaitsAndAnOversizedOneIsRefused) {
    EXPECT_FALSE(server.answer("POST /callback HTTP/1.1\r\nContent-Length: 40\r\n\r\n{\"token\""));
    std::string flood(LoopbackServer::maxRequestBytes + 1, 'a');
    auto tooMuchHead = server.answer(flood);
    ASSERT_TRUE(tooMuchHead);
    EXPECT_TRUE(tooMuchHead->starts_with("HTTP/1.1 413 Content Too Large\r\n"));
    EXPECT_TRUE(tooMuchHead->ends_with(R"({"error":"request too large"})"));

    // A declared body beyond the bound is refused at once, not waited for.
    auto declared = server.answer("POST /callback HTTP/1.1\r\nOrigin: http://app.vanto.test\r\n"
                                  "Content-Length: 1000000000\r\n\r\n");
    ASSERT_TRUE(declared);
    EXPECT_TRUE(declared->starts_with("HTTP/1.1 413 Content Too Large\r\n"));
    EXPECT_NE(declared->find("Access-Control-Allow-Origin: http://app.vanto.test"), std::string::npos)
        << "the page must be able to read the refusal";

    std::string chunked = "POST /callback HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    while (chunked.size() <= LoopbackServer::maxRequestBytes) chunked += "400\r\n" + std::string(1024, 'x') + "\r\n";
    EXPECT_TRUE(server.answer(chunked)->starts_with("HTTP/1.1 413"));
}

TEST_F(LoopbackServerTest, brokenAndAbsurdRequestsAreAnsweredAtOnceWithoutThrowing) {
    std::string chunked =
        "POST /callback HTTP/1.1\r\nOrigin: http://app.vanto.test\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (std::string size : {"ffffffffffffffff", "fffffffffffffffe", "FFFFFFFFFFFFFFFF", "ffffffffffffffff;ext"}) {
        std::optional<std::string> answer;
        ASSERT_NO_THROW(answer = server.answer(chunked + size + "\r\n{\"token\":\"t\"}\r\n")) << size;
        ASSERT_TRUE(answer) << size;
        EXPECT_TRUE(answer->starts_with("HTTP/1.1 413 Content Too Large\r\n")) << size;
        EXPECT_NE(answer->find("Access-Control-Allow-Origin: http://app.vanto.test"), std::string::npos);
    }
    for (std::string broken : {chunked + "zz\r\n", chunked + "2\r\nabX", std::string("GARBAGE\r\n"),
                               std::string("GET /\xff HTTP/1.1\r\n")}) {
        auto answer = server.answer(broken);
        ASSERT_TRUE(answer) << broken << ": waited for bytes that cannot help";
        EXPECT_TRUE(answer->starts_with("HTTP/1.1 400 Bad Request\r\n")) << broken;
        EXPECT_TRUE(answer->ends_with(R"({"error":"malformed request"})"));
    }
    EXPECT_THROW(server.awaitToken(0), ConnectError) << "nothing settled it";
}

TEST_F(LoopbackServerTest, aTokenThatWouldBreakAHeaderEndsTheFlowWithTheReason) {
    for (const std::string& token :
         std::vector<std::string>{"tok\r\nX-Injected: 1", std::string("tok\0cut", 7), "tok\nline", ""}) {
        LoopbackServer fresh{network, clock, origin, state};
        auto answer = fresh.answer(callback(nlohmann::json{{"token", token}, {"state", state}}.dump()));
        ASSERT_TRUE(answer);
        EXPECT_TRUE(answer->starts_with("HTTP/1.1 400 Bad Request\r\n")) << token;
        try {
            fresh.awaitToken(180);
            FAIL() << "taken: " << token;
        } catch (const UploadError& error) {
            EXPECT_EQ(error.kind(), UploadError::Case::unusableToken);
        }
    }
}

TEST_F(LoopbackServerTest, theFirstOutcomeWinsAndLaterCallbacksStillGetAnswers) {
    ASSERT_TRUE(server.answer(goodCallback("tok-first"))->starts_with("HTTP/1.1 200"));
    ASSERT_TRUE(server.answer(goodCallback("tok-second"))->starts_with("HTTP/1.1 200"));
    EXPECT_EQ(server.awaitToken(0), "tok-first") << "an outcome already there comes at once";
    EXPECT_EQ(server.awaitToken(0), "tok-first");
}

TEST_F(LoopbackServerTest, nobodyCallingBackEndsWithTheTimeOutAfterTheLimit) {
    auto start = clock.now();
    try {
        server.awaitToken(180);
        FAIL();
    } catch (const ConnectError& error) {
        EXPECT_EQ(error.kind(), ConnectError::Case::timedOut);
        EXPECT_STREQ(error.what(),
                     "timed out waiting for the browser; finish the connect page or pass a token directly");
    }
    EXPECT_DOUBLE_EQ(clock.now() - start, 180);
    // Settled by the time-out: a late callback is answered but the outcome stays.
    EXPECT_TRUE(server.answer(goodCallback("tok-late"))->starts_with("HTTP/1.1 200"));
    EXPECT_THROW(server.awaitToken(180), ConnectError);
}

TEST_F(LoopbackServerTest, aNegativeLimitTimesOutAtOnce) {
    auto start = clock.now();
    EXPECT_THROW(server.awaitToken(-5), ConnectError);
    EXPECT_DOUBLE_EQ(clock.now(), start);
}

TEST_F(LoopbackServerTest, aCallbackBeforeTheLimitBeatsTheTimer) {
    clock.setAutoAdvance(false);
    auto waiter = std::async(std::launch::async, [&] { return server.awaitToken(180); });
    clock.waitForSleepers(1);
    clock.advance(179);
    server.answer(goodCallback("tok-in-time"));
    EXPECT_EQ(waiter.get(), "tok-in-time");
    clock.advance(5);
    EXPECT_EQ(server.awaitToken(1), "tok-in-time");
}

TEST_F(LoopbackServerTest, aSecondWaiterIsTurnedAwayWhileTheFirstWaits) {
    clock.setAutoAdvance(false);
    auto first = std::async(std::launch::async, [&] { return server.awaitToken(180); });
    clock.waitForSleepers(1);
    try {
        server.awaitToken(180);
        FAIL();
    } catch (const ConnectError& error) {
        EXPECT_STREQ(error.what(), "already waiting for a connect callback on this port");
    }
    server.answer(goodCallback("tok-for-first"));
    EXPECT_EQ(first.get(), "tok-for-first");
}

TEST_F(LoopbackServerTest, cancellingTheCallerSettlesWithCancelled) {
    clock.setAutoAdvance(false);
    std::stop_source stop;
    auto waiter = std::async(std::launch::async, [&] { return server.awaitToken(180, stop.get_token()); });
    clock.waitForSleepers(1);
    stop.request_stop();
    EXPECT_THROW(waiter.get(), Cancelled);
    server.answer(goodCallback("tok-after-cancel"));
    EXPECT_THROW(server.awaitToken(1), Cancelled);
}

// One connection that sends a callback (at once, or trickled), slow to take the answer,
// then nothing more.
class OneCallback final : public LoopbackNetwork {
public:
    struct State {
        std::string request;
        std::atomic<bool> sending{false};
        std::atomic<bool> finished{false};
        std::atomic<bool> refuseAnswer{false};
        // When set, the peer sends one byte every 20 s of this clock instead.
        fake::VirtualClock* trickleClock = nullptr;
        std::string answer;
    };

    class Exchange final : public Connection {
    public:
        explicit Exchange(std::shared_ptr<State> state) : state_(std::move(state)) {}
        std::optional<std::size_t> receive(std::span<std::uint8_t> buffer, double idleSeconds) override {
            if (auto* clock = state_->trickleClock) {
                if (sent_ == state_->request.size()) return 0;
                clock->advance(std::min(idleSeconds, 20.0));
                if (idleSeconds < 20) return std::nullopt;
                buffer[0] = static_cast<std::uint8_t>(state_->request[sent_++]);
                return 1;
            }
            if (given_) return 0;
            given_ = true;
            std::copy(state_->request.begin(), state_->request.end(), buffer.begin());
            return state_->request.size();
        }
        bool send(std::string_view bytes) override {
            state_->answer += bytes;
            state_->sending = true;
            // A page on a busy machine takes its time to read the answer.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return !state_->refuseAnswer;
        }
        void finish() override { state_->finished = true; }
        void interrupt() override {}

    private:
        std::shared_ptr<State> state_;
        bool given_ = false;
        std::size_t sent_ = 0;
    };

    class Once final : public Listener {
    public:
        explicit Once(std::shared_ptr<State> state) : state_(std::move(state)) {}
        std::uint16_t port() override { return 4712; }
        std::unique_ptr<Connection> accept() override {
            if (!handedOut_) {
                handedOut_ = true;
                return std::make_unique<Exchange>(state_);
            }
            quiet_.accept(); // until cancelled
            return nullptr;
        }
        void cancel() override { quiet_.cancel(); }

    private:
        std::shared_ptr<State> state_;
        bool handedOut_ = false;
        fake::QuietListener quiet_{4712};
    };

    std::unique_ptr<Listener> listen() override { return std::make_unique<Once>(state); }
    std::shared_ptr<State> state = std::make_shared<State>();
};

TEST(LoopbackServerDelivery, theTokenIsTakenOnlyOnceThePageHasItsAnswer) {
    OneCallback network;
    network.state->request = goodCallback("tok-delivered");
    fake::VirtualClock clock;
    clock.setAutoAdvance(false);
    LoopbackServer server(network, clock, origin, state);
    server.start();
    EXPECT_EQ(server.awaitToken(180), "tok-delivered");
    // Taking the token ends the flow and closes the server: the page must have been
    // answered by then, or it revokes what it sent.
    EXPECT_TRUE(network.state->finished) << "the token was taken while the answer was still on its way";
    server.cancel();
}

TEST(LoopbackServerDelivery, anAnswerThatDidNotGetThroughLeavesTheFlowWaiting) {
    OneCallback network;
    network.state->request = goodCallback("tok-lost");
    network.state->refuseAnswer = true;
    fake::VirtualClock clock;
    LoopbackServer server(network, clock, origin, state);
    server.start();
    while (!network.state->sending) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(400)); // past the answer's attempt
    // With nothing taken, the virtual limit passes at once.
    EXPECT_THROW(server.awaitToken(180), ConnectError);
    server.cancel();
}

TEST(LoopbackServerDelivery, aPeerTricklingItsRequestIsToldOffAndLetGoAtTheDeadline) {
    OneCallback network;
    fake::VirtualClock clock;
    network.state->request = goodCallback("tok-trickled");
    network.state->trickleClock = &clock;
    LoopbackServer server(network, clock, origin, state);
    auto start = clock.now();
    server.start();
    while (!network.state->finished) std::this_thread::yield();
    EXPECT_TRUE(network.state->answer.starts_with("HTTP/1.1 408 Request Timeout\r\n")) << network.state->answer;
    EXPECT_LE(clock.now() - start, LoopbackServer::requestSeconds + 20) << "held its slot past the deadline";
    server.cancel();
}

} // namespace
} // namespace vanto
