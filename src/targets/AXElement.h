#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace vanto {

// One named, positioned, on-screen thing from an accessibility tree. Sent in control
// answers with exactly these keys, all present.
struct AXElement {
    std::string role;     // as reported (AXButton, AXLink, ...); empty when none
    std::string text;     // the element's first name
    std::int64_t x = 0;   // frame, truncated toward zero
    std::int64_t y = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t cx = 0;  // centre of the floating frame, truncated toward zero
    std::int64_t cy = 0;
    std::string alt;      // the other names, joined with one space
    std::string identity; // AXIdentifier, empty when absent
    bool enabled = true;  // AXEnabled; true when absent or not a boolean
    bool inPage = false;  // inside an AXWebArea

    bool operator==(const AXElement&) const = default;

    // The element for a floating frame, or none when the frame does not fit in
    // 64-bit integers (such elements are dropped).
    static std::optional<AXElement> withFrame(std::string role, std::string text, double x, double y, double width,
                                              double height);
};

nlohmann::ordered_json toJSON(const AXElement& element);

} // namespace vanto
