#pragma once

#include "cli/Protocol.h"
#include "engine/Engine.h"

#include <span>
#include <string_view>

namespace vanto {

// One control command: its name on the wire and the handler that reads the request's
// fields, asks the engine and fills in the answer. A handler may throw; the error
// becomes the answer.
struct ControlCommand {
    std::string_view name;
    Response (*handler)(Engine& engine, const Request& request);
};

// Every command the control protocol serves.
std::span<const ControlCommand> controlCommands();

// The command of that name; none for a name nobody serves.
const ControlCommand* controlCommand(std::string_view name);

// One control request's answer; never throws.
Response answerRequest(Engine& engine, const Request& request);

} // namespace vanto
