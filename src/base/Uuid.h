#pragma once

#include "base/Random.h"

#include <string>

namespace vanto {

// A fresh random (version 4) UUID in its usual upper-case hyphenated form.
std::string uuidString(Random& random);

} // namespace vanto
