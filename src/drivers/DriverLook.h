#pragma once

#include "targets/AXElement.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

namespace vanto {

// What the screen shows, as a driver reads it in an answer.
struct DriverLook {
    struct Control {
        std::string role;  // a kind: "link", "button", "input", ... or the role unchanged
        std::string label; // the control's visible name
        bool operator==(const Control&) const = default;
    };

    std::optional<std::string> url;
    std::vector<Control> controls;
    std::optional<std::string> screenshot; // a file name in the driver's folder, not a path

    bool operator==(const DriverLook&) const = default;

    // The kind a driver is told for an accessibility role.
    static std::string kind(const std::string& role);

    // The named, actionable controls of the page among the elements found, in the
    // order found: labels cut to 120 characters, a role and label listed once, at
    // most 150 of them.
    static std::vector<Control> controlsFrom(const std::vector<AXElement>& found);
};

nlohmann::json toJSON(const DriverLook& look);

} // namespace vanto
