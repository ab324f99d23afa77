#pragma once

#include "platform/Clock.h"
#include "platform/Listener.h"
#include "platform/Processes.h"
#include "base/Random.h"
#include "platform/Workspace.h"
#include "service/ConfigStore.h"

#include <stop_token>
#include <string>

namespace vanto {

// Links this machine to an account through the browser: opens the web application's
// connect page and waits for the page to post a token to a loopback callback.
class Connector {
public:
    // What the control protocol and the Connect button allow the person.
    static constexpr double defaultTimeout = 180;

    struct Seams {
        Processes& environment;
        Random& random;
        Clock& clock;
        Workspace& workspace;
        LoopbackNetwork& network;
    };

    // apiBase: already resolved (ConfigStore::resolveAPIBase).
    Connector(std::string apiBase, double timeout, Seams seams);

    // The whole flow; the new configuration holds the browser's token and apiBase.
    Config run(std::stop_token stop = {});

    // 16 bytes of the secure random source as 32 lower-case hexadecimal digits.
    static std::string nonce(Random& random);

    // $VANTO_APP_BASE when set and not empty, else the API base with every "//api."
    // turned into "//app.".
    static std::string appBase(const std::string& apiBase, Processes& environment);

    const std::string& apiBase() const { return apiBase_; }
    double timeout() const { return timeout_; }

private:
    std::string apiBase_;
    double timeout_;
    Seams seams_;
};

} // namespace vanto
