#include "drivers/DriverLook.h"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <set>
#include <string_view>
#include <utility>

namespace vanto {
namespace {

constexpr std::size_t labelCharacters = 120;
constexpr std::size_t mostControls = 150;

// The roles a person acts on; the element search ranks these first too.
constexpr std::array<std::string_view, 10> actionableRoles{
    "AXLink",        "AXButton",   "AXTextField",  "AXCheckBox", "AXRadioButton",
    "AXPopUpButton", "AXMenuItem", "AXMenuButton", "AXComboBox", "AXTextArea"};

bool isActionable(const std::string& role) {
    return std::find(actionableRoles.begin(), actionableRoles.end(), role) != actionableRoles.end();
}

// The first `count` perceived characters, so a label is never cut inside one.
// Bytes that are not UTF-8 end the label there.
std::string firstCharacters(const std::string& text, std::size_t count) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    std::size_t offset = 0;
    std::size_t characters = 0;
    utf8proc_int32_t previous = -1;
    utf8proc_int32_t state = 0;
    while (offset < text.size()) {
        utf8proc_int32_t cp = 0;
        auto n = utf8proc_iterate(bytes + offset, static_cast<utf8proc_ssize_t>(text.size() - offset), &cp);
        if (n <= 0) break;
        if (previous < 0 || utf8proc_grapheme_break_stateful(previous, cp, &state)) {
            if (characters == count) break;
            ++characters;
        }
        previous = cp;
        offset += static_cast<std::size_t>(n);
    }
    return text.substr(0, offset);
}

} // namespace

std::string DriverLook::kind(const std::string& role) {
    if (role == "AXLink") return "link";
    if (role == "AXButton" || role == "AXPopUpButton" || role == "AXMenuButton") return "button";
    if (role == "AXTextField" || role == "AXTextArea" || role == "AXComboBox") return "input";
    if (role == "AXCheckBox" || role == "AXRadioButton") return "checkbox";
    if (role == "AXMenuItem") return "menuitem";
    return role;
}

std::vector<DriverLook::Control> DriverLook::controlsFrom(const std::vector<AXElement>& found) {
    std::vector<Control> controls;
    std::set<std::pair<std::string, std::string>> listed;
    for (const auto& element : found) {
        if (controls.size() == mostControls) break;
        if (!element.inPage || !isActionable(element.role)) continue;
        auto label = firstCharacters(element.text.empty() ? element.alt : element.text, labelCharacters);
        if (label.empty()) continue;
        if (!listed.emplace(element.role, label).second) continue;
        controls.push_back({kind(element.role), label});
    }
    return controls;
}

nlohmann::json toJSON(const DriverLook& look) {
    nlohmann::json out = nlohmann::json::object();
    if (look.url) out["url"] = *look.url;
    out["controls"] = nlohmann::json::array();
    for (const auto& control : look.controls)
        out["controls"].push_back({{"role", control.role}, {"label", control.label}});
    if (look.screenshot) out["screenshot"] = *look.screenshot;
    return out;
}

} // namespace vanto
