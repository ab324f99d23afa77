#pragma once

#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/Http.h"
#include "platform/Listener.h"
#include "platform/MainThread.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "base/Random.h"
#include "platform/Workspace.h"
#include "service/AccountStatus.h"

#include <optional>
#include <stop_token>
#include <string>

namespace vanto {

// The "connect", "disconnect" and "account" commands: each one operation of the
// configuration store, the connect flow and the service client.
class AccountCommands {
public:
    struct Seams {
        Paths& paths;
        Processes& environment;
        Clock& clock;
        Random& random;
        Http& http;
        Workspace& workspace;
        LoopbackNetwork& network;
        MainThread& mainThread;
        Defaults& defaults;
    };

    explicit AccountCommands(Seams seams);

    // With a non-empty token the service is asked whose it is; without one the browser
    // flow gets one (within connectTimeout seconds). Then the link is saved.
    AccountStatus connect(const std::optional<std::string>& token, const std::optional<std::string>& apiBase,
                          std::stop_token stop = {});

    // Revokes the stored token at the service (errors ignored), switches off recording
    // cloud runs without asking, and forgets the link.
    AccountStatus disconnect();

    // Who this machine is linked to, asking the service; not linked is an answer, not an error.
    AccountStatus account(std::stop_token stop = {});

    double connectTimeout = 180;

private:
    Seams seams_;
};

} // namespace vanto
