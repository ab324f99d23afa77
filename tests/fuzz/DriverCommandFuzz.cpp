// A take driver's command file, decoded as the file driver does. A command that
// decodes is one of the five kinds, and only a step command carries a step.

#include "base/Json.h"
#include "drivers/DriverCommand.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    nlohmann::json wire;
    try {
        wire = nlohmann::json::parse(bytes);
    } catch (const nlohmann::json::exception& error) {
        (void)vanto::json::description(error);
        return 0;
    }
    try {
        auto command = vanto::DriverCommand::fromWire(wire);
        using Kind = vanto::DriverCommand::Kind;
        if ((command.kind == Kind::step) != command.step.has_value() || command.kind == Kind::idle) std::abort();
        if (command.step) (void)vanto::toJSON(*command.step).dump();
    } catch (const vanto::DecodeError&) {
    }
    return 0;
}
