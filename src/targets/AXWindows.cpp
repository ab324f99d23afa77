#include "targets/AXWindows.h"

#include "targets/AXValues.h"

#include <cmath>

namespace vanto {

AXWindows::AXWindows(Accessibility& accessibility, AXAccess& access) : ax_(accessibility), access_(access) {}

std::vector<AXRef> AXWindows::windowsOf(const AXRef& application) {
    return axvalue::elements(ax_.copyAttributeValue(application, ax::windows));
}

int AXWindows::restoreMinimizedWindows(std::int32_t pid) {
    if (!access_.mayDrive(pid)) return 0;
    int restored = 0;
    for (const auto& window : windowsOf(ax_.application(pid)))
        if (axvalue::as<bool>(ax_.copyAttributeValue(window, ax::minimized)) == true &&
            ax_.setAttributeValue(window, ax::minimized, false))
            ++restored;
    return restored;
}

bool AXWindows::focus(Rect windowAt, std::int32_t pid) {
    if (!access_.mayDrive(pid)) return false;
    const AXRef application = ax_.application(pid);
    for (const auto& window : windowsOf(application)) {
        const auto origin = axvalue::as<Point>(ax_.copyAttributeValue(window, ax::position));
        if (!origin || std::abs(origin->x - windowAt.x) > 1 || std::abs(origin->y - windowAt.y) > 1) continue;
        ax_.performAction(window, ax::raiseAction);
        ax_.setAttributeValue(window, ax::main, true);
        ax_.setAttributeValue(application, ax::focusedWindow, window);
        return true;
    }
    return false;
}

bool AXWindows::place(std::int32_t windowOf, Rect at) {
    if (!access_.mayDrive(windowOf)) return false;
    const auto windows = windowsOf(ax_.application(windowOf));
    if (windows.empty()) return false;
    const AXRef& window = windows.front();
    // Position first so the size fits the screen there, and again since some window
    // managers move a window that grows past the screen's edge.
    ax_.setAttributeValue(window, ax::position, Point{at.x, at.y});
    ax_.setAttributeValue(window, ax::size, AXSize{at.width, at.height});
    ax_.setAttributeValue(window, ax::position, Point{at.x, at.y});
    const auto placed =
        axvalue::frame(ax_.copyAttributeValue(window, ax::position), ax_.copyAttributeValue(window, ax::size));
    return placed && std::abs(placed->width - at.width) <= 1 && std::abs(placed->height - at.height) <= 1;
}

} // namespace vanto
