#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vanto {

// Reading and showing where in which video a take goes.
namespace Placement {

// Seconds from "90", "1:30" or "1:02:03" (each part after the first under 60), or none.
std::optional<double> seconds(std::string_view text);

// A time as minutes and seconds, to the tenth when it has one: 1:30, 1:30.5, 0:00.
std::string clock(double seconds);

// The video ID in an ID or a link to the video's page (its last path component).
std::string videoID(std::string_view text);

} // namespace Placement
} // namespace vanto
