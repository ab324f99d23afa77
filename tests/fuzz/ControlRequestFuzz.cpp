// Lines sent to the control loop, answered on a scripted desktop. Every line gets one
// answer line of JSON, whatever it held.
//
// Requests that write or read files the request names (start, upload) or wait for a
// browser (connect) are left out: on this machine they would touch real files.

#include "cli/Protocol.h"
#include "cli/Vanto.h"
#include "platform/fake/FakePlatform.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

namespace {

bool touchesTheMachine(std::string_view input) {
    std::istringstream lines{std::string(input)};
    std::string line;
    while (std::getline(lines, line)) {
        auto request = vanto::decodeRequest(line);
        using C = vanto::Request::Command;
        if (request && (request->cmd == C::start || request->cmd == C::upload || request->cmd == C::connect))
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (touchesTheMachine(input)) return 0;

    vanto::fake::FakePlatform fake;
    fake.windows.addWindow(17, "Chromium", 900, "Welcome", {100, 120, 800, 600});
    std::istringstream in(input);
    std::ostringstream out, err;
    auto platform = fake.platform();
    vanto::Vanto program(platform, in, out, err);
    if (program.main({"/usr/bin/vanto"}, fake.mainThread) != 0) std::abort();

    std::istringstream answers(out.str());
    std::string answer;
    while (std::getline(answers, answer)) {
        auto parsed = nlohmann::json::parse(answer, nullptr, false);
        if (!parsed.is_object() || !parsed.contains("ok")) std::abort();
    }
    return 0;
}
