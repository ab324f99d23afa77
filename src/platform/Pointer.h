#pragma once

#include "platform/Geometry.h"

namespace vanto {

class Pointer {
public:
    virtual ~Pointer() = default;

    // Where the pointer is now, in global points.
    virtual PointD position() = 0;
};

} // namespace vanto
