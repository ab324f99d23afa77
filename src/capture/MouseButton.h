#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vanto {

enum class MouseButton { left, right };

// Decodes only the raw values "left" and "right".
std::optional<MouseButton> mouseButton(std::string_view raw);
std::string rawValue(MouseButton button);

} // namespace vanto
