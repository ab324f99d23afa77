#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace vanto {

// The browser window a sheet's takes are recorded in, in points.
struct Stage {
    std::string browser = "Google Chrome";
    std::int64_t width = 1440;
    std::int64_t height = 900;

    // How much taller Chromium's window is than the page it shows, on this desktop: the
    // tab strip (41 points) and toolbar (46) above the page, and the invisible 4-point
    // border below it (measured with Chromium under openbox: a 1280 by 811 window shows
    // a page of 1272 by 720). A stage this much taller than a page shows all of its height.
    static constexpr std::int64_t browserBarsHeight = 91;
    // And how much wider: the invisible 4-point borders at either side of the page.
    static constexpr std::int64_t browserSideBorders = 8;

    bool operator==(const Stage&) const = default;

    // Absent keys take the defaults above; a key of the wrong type throws DecodeError.
    static Stage fromJSON(const nlohmann::json& object);
};

} // namespace vanto
