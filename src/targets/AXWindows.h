#pragma once

#include "platform/Accessibility.h"
#include "platform/Geometry.h"
#include "targets/AXAccess.h"

#include <cstdint>
#include <vector>

namespace vanto {

// Brings another application's windows back, to the front and into place. Each
// answers nothing done (0 or false) without permission or for this program itself.
class AXWindows {
public:
    AXWindows(Accessibility& accessibility, AXAccess& access);

    // How many minimized windows were restored.
    int restoreMinimizedWindows(std::int32_t pid);
    // Raises and focuses the window whose origin is within a pixel of windowAt's.
    bool focus(Rect windowAt, std::int32_t pid);
    // Moves and sizes the application's first window; true when it took the size.
    bool place(std::int32_t windowOf, Rect at);

private:
    std::vector<AXRef> windowsOf(const AXRef& application);

    Accessibility& ax_;
    AXAccess& access_;
};

} // namespace vanto
