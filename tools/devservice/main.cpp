// vanto-devservice: a local stand-in for the Vanto web service, for tests, demos and
// working offline. State lives in one folder; see README.md beside this file.

#include "Cloud.h"
#include "Faults.h"
#include "Planner.h"
#include "Routes.h"
#include "Service.h"
#include "Store.h"

#include <httplib.h>

#include <pthread.h>
#include <signal.h>

#include <algorithm>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace vanto::devservice;

constexpr const char* usage = R"(usage:
  vanto-devservice [serve] [--host 127.0.0.1] [--port N] [--state DIR] [--auto-sign-in EMAIL] [--quiet]
      Serves the API and the web application. --port 0 (the default) picks a free port.
      The first line on standard output is "listening on http://HOST:PORT".
  vanto-devservice add-account [--state DIR] [--email EMAIL] [--name NAME] [--password PASSWORD]
      Creates an account and prints a new token for it.
  vanto-devservice add-token [--state DIR] --email EMAIL
      Prints a new token for an existing account.
  vanto-devservice add-plan [--state DIR] (--prompt TEXT | --pattern REGEX) (--plan FILE | --question TEXT)
      Stores what the planner answers for a prompt: the plan in FILE (JSON with "steps"),
      or a question back. A pattern is searched in the prompt, ignoring case.
The state folder defaults to $XDG_DATA_HOME/vanto-devservice (~/.local/share/vanto-devservice).
)";

struct CommandLine {
    std::string command = "serve";
    std::map<std::string, std::string> values;
    std::vector<std::string> flags;

    std::optional<std::string> value(const std::string& name) const {
        auto it = values.find(name);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
    bool flag(const std::string& name) const {
        for (const auto& f : flags)
            if (f == name) return true;
        return false;
    }
};

[[noreturn]] void fail(const std::string& message) {
    std::cerr << "vanto-devservice: " << message << "\n";
    std::exit(2);
}

CommandLine parse(int argc, char** argv) {
    static const std::vector<std::string> withValue = {"--host",  "--port", "--state",   "--auto-sign-in",
                                                       "--email", "--name", "--password",
                                                       "--prompt", "--pattern", "--plan", "--question"};
    static const std::vector<std::string> plainFlags = {"--quiet", "--help"};
    CommandLine line;
    int i = 1;
    if (i < argc && argv[i][0] != '-') line.command = argv[i++];
    for (; i < argc; ++i) {
        std::string argument = argv[i];
        if (std::find(plainFlags.begin(), plainFlags.end(), argument) != plainFlags.end()) {
            line.flags.push_back(argument);
        } else if (std::find(withValue.begin(), withValue.end(), argument) != withValue.end()) {
            if (i + 1 >= argc) fail(argument + " needs a value");
            line.values[argument] = argv[++i];
        } else {
            fail("unknown option " + argument + "\n" + usage);
        }
    }
    return line;
}

std::filesystem::path stateFolder(const CommandLine& line) {
    if (auto state = line.value("--state")) return *state;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        return std::filesystem::path(data) / "vanto-devservice";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/tmp") / ".local" / "share" / "vanto-devservice";
}

int addAccount(const CommandLine& line) {
    Store store(stateFolder(line));
    auto account = store.addAccount(line.value("--email"), line.value("--name"), line.value("--password"));
    std::cout << store.issueToken(account.id, "command line") << std::endl;
    return 0;
}

int addToken(const CommandLine& line) {
    auto email = line.value("--email");
    if (!email) fail("add-token needs --email");
    Store store(stateFolder(line));
    auto account = store.accountByEmail(*email);
    if (!account) fail("no account has the email " + *email);
    std::cout << store.issueToken(account->id, "command line") << std::endl;
    return 0;
}

int addPlan(const CommandLine& line) {
    nlohmann::json entry;
    if (auto prompt = line.value("--prompt")) entry["prompt"] = *prompt;
    if (auto pattern = line.value("--pattern")) entry["pattern"] = *pattern;
    if (auto question = line.value("--question")) entry["question"] = *question;
    if (auto file = line.value("--plan")) {
        std::ifstream in(*file);
        if (!in) fail("cannot read " + *file);
        auto plan = nlohmann::json::parse(in, nullptr, false);
        if (plan.is_discarded()) fail(*file + " is not JSON");
        entry["plan"] = plan;
    }
    PlanBook book(stateFolder(line));
    try {
        book.add(entry);
    } catch (const PlanBookError& error) {
        fail(error.what());
    }
    return 0;
}

int serve(const CommandLine& line) {
    // Signals are taken by one thread with sigwait, which may stop the server safely.
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Store store(stateFolder(line));
    Options options;
    options.autoSignInEmail = line.value("--auto-sign-in");
    // Looked up at each visit, so the account may be added after the service started.
    if (options.autoSignInEmail && !store.accountByEmail(*options.autoSignInEmail))
        std::cerr << "vanto-devservice: note: no account has the email " << *options.autoSignInEmail
                  << " yet; add it with add-account" << std::endl;
    Service service(store, options);
    Faults faults;
    PlanBook plans(store.folder());

    httplib::Server server;
    addFaultRoutes(server, faults);
    addProfileRoutes(server, service);
    addTokenRoutes(server, service);
    addSessionRoutes(server, service);
    addConnectPage(server, service);
    Library library(store.folder());
    addUploadRoutes(server, service, library);
    addVideoRoutes(server, service, library);
    addPlannerRoutes(server, service, plans);
    CloudRuns cloud;
    addCloudRoutes(server, service, cloud);
    server.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr error) {
        std::string message = "internal error";
        try {
            if (error) std::rethrow_exception(error);
        } catch (const std::exception& e) {
            message = e.what();
        }
        sendError(response, 500, message);
    });
    if (!line.flag("--quiet")) {
        // Paths only: queries may carry a connect attempt's state, headers a token.
        server.set_logger([](const httplib::Request& request, const httplib::Response& response) {
            std::cerr << "vanto-devservice: " << request.method << " " << request.path << " " << response.status
                      << std::endl;
        });
    }

    auto host = line.value("--host").value_or("127.0.0.1");
    int port = 0;
    if (auto text = line.value("--port")) {
        try {
            port = std::stoi(*text);
        } catch (const std::exception&) {
            fail("--port needs a number");
        }
        if (port < 0 || port > 65535) fail("--port must be from 0 to 65535");
    }
    if (port == 0) {
        port = server.bind_to_any_port(host);
        if (port < 0) fail("cannot listen on " + host);
    } else if (!server.bind_to_port(host, port)) {
        fail("cannot listen on " + host + ":" + std::to_string(port));
    }
    std::cout << "listening on http://" << host << ":" << port << std::endl;

    std::thread stopper([&server, &cloud, stopping] {
        int signal = 0;
        sigwait(&stopping, &signal);
        cloud.close(); // a held request would keep the server from stopping
        server.stop();
    });
    bool served = server.listen_after_bind();
    if (stopper.joinable()) {
        // Wake the stopper if the server ended by itself.
        pthread_kill(stopper.native_handle(), SIGTERM);
        stopper.join();
    }
    return served ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    auto line = parse(argc, argv);
    if (line.flag("--help") || line.command == "help") {
        std::cout << usage;
        return 0;
    }
    try {
        if (line.command == "serve") return serve(line);
        if (line.command == "add-account") return addAccount(line);
        if (line.command == "add-token") return addToken(line);
        if (line.command == "add-plan") return addPlan(line);
    } catch (const std::exception& error) {
        fail(error.what());
    }
    fail("unknown command " + line.command + "\n" + usage);
}
