#pragma once

namespace vanto {

class Permissions {
public:
    virtual ~Permissions() = default;

    // Whether this process may read other applications' interfaces and post input.
    // With prompt set, the system is first asked to grant it.
    virtual bool accessibilityTrusted(bool prompt) = 0;

    // Whether screen capture is granted, without asking.
    virtual bool screenCapturePreflight() = 0;

    // Asks the system for screen capture; answers whether it is granted now.
    virtual bool requestScreenCapture() = 0;
};

} // namespace vanto
