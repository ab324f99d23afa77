#pragma once

#include "base/Random.h"
#include "platform/Accessibility.h"
#include "platform/Capture.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/EventSink.h"
#include "platform/ExtendedAttributes.h"
#include "platform/Handoff.h"
#include "platform/Http.h"
#include "platform/Listener.h"
#include "platform/MainThread.h"
#include "platform/Paths.h"
#include "platform/Permissions.h"
#include "platform/Pointer.h"
#include "platform/Processes.h"
#include "platform/Terminal.h"
#include "platform/Ui.h"
#include "platform/WindowServer.h"
#include "platform/Workspace.h"

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
    EventSink& events;
    KeyListener& keys;
    Accessibility& accessibility;
    ScreenCapture& capture;
    Ui& ui;
    Http& http;
    LoopbackNetwork& network;
    Workspace& workspace;
    Defaults& defaults;
    ExtendedAttributes& extendedAttributes;
    Terminal& terminal;
    Handoff& handoff;
};

} // namespace vanto
