#pragma once

#include "platform/Processes.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace vanto::ProcessInfo {

// The innermost "Name.app" folder of a path, without ".app".
std::optional<std::string> enclosingAppName(std::string_view path);

// The first ancestor (at most 8 up) whose executable lies in an application bundle.
std::optional<std::int32_t> responsiblePID(Processes& processes);

// That ancestor's application name, else $TERM_PROGRAM, else a generic phrase.
std::string responsibleName(Processes& processes);

// This process and up to 12 ancestors.
std::set<std::int32_t> ancestorPIDs(Processes& processes);

} // namespace vanto::ProcessInfo
