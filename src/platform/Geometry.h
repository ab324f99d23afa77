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

// A frame holds the points on its left and top edges, not those on its right and bottom.
inline bool contains(const Rect& frame, Point at) {
    return at.x >= frame.x && at.y >= frame.y && at.x < frame.x + frame.width && at.y < frame.y + frame.height;
}

// Whether inner lies wholly inside outer, edges included.
inline bool contains(const Rect& outer, const Rect& inner) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

using PointD = Point;
using RectD = Rect;

} // namespace vanto
