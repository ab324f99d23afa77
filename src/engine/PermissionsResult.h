#pragma once

namespace vanto {

// The two grants the program needs to record and drive, as the system reports them.
struct PermissionsResult {
    bool screenRecording = false;
    bool accessibility = false;
};

} // namespace vanto
