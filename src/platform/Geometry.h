#pragma once

namespace vanto {

// Global screen points, origin at the top left of the main display; shared by the
// seams and the control protocol's records.
struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const Rect&) const = default;
};

using PointD = Point;
using RectD = Rect;

} // namespace vanto
