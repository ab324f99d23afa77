#pragma once

#include "platform/Geometry.h"

#include <string>

namespace vanto {

// The element that holds keyboard focus, compared before and after an action.
struct Focus {
    std::string role;
    std::string value;
    Rect frame;
    bool inPage = false;
    bool operator==(const Focus&) const = default;
};

} // namespace vanto
