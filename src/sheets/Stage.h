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

    bool operator==(const Stage&) const = default;

    // Absent keys take the defaults above; a key of the wrong type throws DecodeError.
    static Stage fromJSON(const nlohmann::json& object);
};

} // namespace vanto
