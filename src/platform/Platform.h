#pragma once

#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "platform/Paths.h"
#include "platform/Permissions.h"
#include "platform/Pointer.h"
#include "platform/Processes.h"
#include "platform/Random.h"
#include "platform/WindowServer.h"

namespace vanto {

// Everything the operating system does for the core, reached through one record so
// that the core links against either backend unchanged.
struct Platform {
    Clock& clock;
    Random& random;
    MainThread& mainThread;
    WindowServer& windows;
    Processes& processes;
    Permissions& permissions;
    Pointer& pointer;
    Paths& paths;
};

} // namespace vanto
