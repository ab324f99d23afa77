// The loopback callback server's answer to whatever bytes a local process sends it,
// whole and as the first part of a request still arriving. Nothing may throw out of a
// connection thread, so any exception here is a fault.

#include "platform/fake/FakePlatform.h"
#include "platform/fake/QuietNetwork.h"
#include "service/HTTPRequest.h"
#include "service/LoopbackServer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

constexpr const char* origin = "http://app.vanto.test";
constexpr const char* state = "0123456789abcdef0123456789abcdef";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static vanto::fake::QuietNetwork network;
    static vanto::fake::VirtualClock clock;
    const std::string_view received(reinterpret_cast<const char*>(data), size);

    if (auto request = vanto::HTTPRequest::parse(received)) {
        (void)request->contentLength();
        (void)request->isChunked();
    }
    for (std::size_t bound : {std::size_t(256), vanto::LoopbackServer::maxRequestBytes}) {
        auto reading = vanto::HTTPRequest::read(received, bound);
        if (reading.state == vanto::HTTPRequest::State::complete && !reading.request) std::abort();
    }
    // A fresh server each time: a valid callback settles it for good.
    vanto::LoopbackServer server(network, clock, origin, state);
    std::optional<std::string> token;
    (void)server.answer(received.substr(0, size / 2), &token);
    token.reset();
    (void)server.answer(received, &token);
    (void)server.answer(received);
    return 0;
}
