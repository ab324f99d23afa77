#pragma once

#include "DevService.h"

#include "platform/MainThread.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakeWorkspace.h"
#include "platform/fake/MemoryDefaults.h"
#include "platform/linux/CurlHttp.h"
#include "platform/linux/PosixListener.h"
#include "service/APIClient.h"
#include "service/AccountCommands.h"
#include "service/ConfigStore.h"

#include <gtest/gtest.h>

#include <functional>

namespace vanto::test {

class InlineMainThread final : public MainThread {
public:
    void run(std::function<void()> f) override {
        ++runs;
        f();
    }
    void post(std::function<void()> f) override { run(std::move(f)); }
    int runs = 0;
};

// The real client (curl, loopback sockets) against a running devservice, with the
// program's environment pointing both bases at it.
class ServiceFixture : public ::testing::Test {
protected:
    explicit ServiceFixture(std::vector<std::string> serviceArguments = {}) : service(std::move(serviceArguments)) {
        fake.processes.env["VANTO_API_BASE"] = service.base();
        fake.processes.env["VANTO_APP_BASE"] = service.base();
    }

    AccountCommands commands(Workspace& opener, Clock& clock) {
        return AccountCommands(
            {fake.paths, fake.processes, clock, fake.random, http, opener, network, mainThread, defaults});
    }
    AccountCommands commands() { return commands(workspace, fake.clock); }

    APIClient client(const std::string& token) { return APIClient(Config{token, service.base()}, http, fake.clock); }

    DevService service;
    fake::FakePlatform fake;
    CurlHttp http;
    PosixLoopbackNetwork network;
    fake::FakeWorkspace workspace;
    fake::MemoryDefaults defaults;
    InlineMainThread mainThread;
    ConfigStore store{fake.paths, fake.processes};
};

} // namespace vanto::test
