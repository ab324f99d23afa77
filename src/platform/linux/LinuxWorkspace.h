#pragma once

#include "platform/Workspace.h"

#include <string>
#include <vector>

namespace vanto {

// Opens addresses the freedesktop way: each command of $BROWSER in turn (a list
// separated by ":", "%s" standing for the address), else xdg-open.
class LinuxWorkspace final : public Workspace {
public:
    bool openURL(const std::string& url) override;

    // The argument lists to try, in order, for this $BROWSER value (none or empty: xdg-open).
    static std::vector<std::vector<std::string>> browserCommands(const char* browserVariable, const std::string& url);
};

} // namespace vanto
