#include "capture/MouseButton.h"

namespace vanto {

std::optional<MouseButton> mouseButton(std::string_view raw) {
    if (raw == "left") return MouseButton::left;
    if (raw == "right") return MouseButton::right;
    return std::nullopt;
}

std::string rawValue(MouseButton button) {
    return button == MouseButton::left ? "left" : "right";
}

} // namespace vanto
