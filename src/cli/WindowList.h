#pragma once

#include "cli/Protocol.h"
#include "platform/WindowServer.h"

#include <optional>
#include <vector>

namespace vanto::WindowList {

// The window's entry, or none when it has no 32-bit number, is not on layer 0 or has
// no bounds.
std::optional<WindowInfo> window(const nlohmann::json& record);

// The windows now on screen, front to back, keeping only those wider and taller
// than 80 points.
std::vector<WindowInfo> onScreen(WindowServer& server);

} // namespace vanto::WindowList
