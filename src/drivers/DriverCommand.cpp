#include "drivers/DriverCommand.h"

#include "base/Json.h"

namespace vanto {

DriverCommand DriverCommand::performing(std::int64_t id, Step step) {
    return {Kind::step, id, std::move(step)};
}
DriverCommand DriverCommand::looking(std::int64_t id) {
    return {Kind::look, id, std::nullopt};
}
DriverCommand DriverCommand::ending(std::int64_t id) {
    return {Kind::end, id, std::nullopt};
}
DriverCommand DriverCommand::aborting(std::int64_t id) {
    return {Kind::abort, id, std::nullopt};
}
DriverCommand DriverCommand::idle() {
    return {Kind::idle, 0, std::nullopt};
}

DriverCommand DriverCommand::fromWire(const nlohmann::json& wire) {
    json::requireObject(wire, "a driver's command");
    auto id = json::optionalInt(wire, "id");
    if (!id) throw DecodeError("missing \"id\"");
    std::optional<Step> step;
    if (const auto* object = json::optionalObject(wire, "step")) {
        try {
            step = Step::fromJSON(*object);
        } catch (const DecodeError& error) {
            throw DecodeError(std::string("step: ") + error.what());
        }
    }
    // Every key is decoded before one is chosen, so a mistyped key is never hidden.
    bool abort = json::optionalBool(wire, "abort").value_or(false);
    bool end = json::optionalBool(wire, "end").value_or(false);
    bool look = json::optionalBool(wire, "look").value_or(false);
    if (step) return performing(*id, std::move(*step));
    if (abort) return aborting(*id);
    if (end) return ending(*id);
    if (look) return looking(*id);
    throw DecodeError("it names no step, look, end or abort");
}

} // namespace vanto
