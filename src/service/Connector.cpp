#include "service/Connector.h"

#include "service/ConnectError.h"
#include "service/LoopbackServer.h"
#include "service/ServiceAddress.h"

#include <array>
#include <cstdint>

namespace vanto {

Connector::Connector(std::string apiBase, double timeout, Seams seams)
    : apiBase_(std::move(apiBase)), timeout_(timeout), seams_(seams) {}

std::string Connector::nonce(Random& random) {
    std::array<std::uint8_t, 16> bytes{};
    random.fill(bytes);
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (auto byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

std::string Connector::appBase(const std::string& apiBase, Processes& environment) {
    if (auto value = environment.environment("VANTO_APP_BASE"); value && !value->empty()) return *value;
    std::string base = apiBase;
    static constexpr std::string_view from = "//api.";
    static constexpr std::string_view to = "//app.";
    for (auto at = base.find(from); at != std::string::npos; at = base.find(from, at + to.size()))
        base.replace(at, from.size(), to);
    return base;
}

Config Connector::run(std::stop_token stop) {
    auto state = nonce(seams_.random);
    auto app = appBase(apiBase_, seams_.environment);
    LoopbackServer server(seams_.network, seams_.clock, app, state);
    auto port = server.start();
    auto url = app + "/connect?cli=" + std::to_string(port) + "&state=" + state;
    auto parts = ServiceAddress::parse(url);
    if (!parts || parts->host.empty()) {
        server.cancel();
        throw ConnectError::badAPIBase(apiBase_);
    }
    // Whether a browser came up is not ours to judge: the person may open the page
    // some other way, and the wait ends with the time-out either way.
    seams_.workspace.openURL(url);
    struct CancelAfter {
        LoopbackServer& server;
        ~CancelAfter() { server.cancel(); }
    } cancelAfter{server};
    auto token = server.awaitToken(timeout_, stop);
    return Config{token, apiBase_};
}

} // namespace vanto
