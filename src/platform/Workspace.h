#pragma once

#include <string>

namespace vanto {

// The person's desktop environment, for handing things to their own applications.
class Workspace {
public:
    virtual ~Workspace() = default;

    // Opens the address in the person's default browser without waiting for it.
    // False when no browser could be started.
    virtual bool openURL(const std::string& url) = 0;
};

} // namespace vanto
