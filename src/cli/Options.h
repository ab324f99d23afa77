#pragma once

#include "agent/RunParams.h"
#include "base/Error.h"
#include "base/Numbers.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vanto {

using Arguments = std::vector<std::string>;

// A prompt-run option that cannot be used as given; what() is the line shown.
class OptionError : public Error {
public:
    using Error::Error;
};

// The argument right after the first one equal to name; none when the option is
// absent or is the last argument.
std::optional<std::string> value(std::string_view of, const Arguments& in);
bool hasFlag(std::string_view name, const Arguments& in);

struct PromptOptions {
    RunParams params;
    std::optional<double> charsPerSecond; // --cps, for the agent
};

// Reads a prompt run's options, checking them in the order people meet them.
// arguments[0] is the prompt. defaultOutput is called only when --output is absent.
PromptOptions parsePromptOptions(const Arguments& arguments,
                                 const std::function<std::filesystem::path()>& defaultOutput);

// The message for missing permissions; name is the application that launched us.
std::string permissionMessage(const std::string& name);

} // namespace vanto
