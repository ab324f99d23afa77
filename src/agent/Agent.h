#pragma once

#include "agent/RunLog.h"
#include "agent/RunParams.h"
#include "plan/Plan.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "service/APIClient.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

namespace vanto {

// One run, from prompt to take. This build goes as far as the prepared plan: it
// registers the run, gets the steps (from a plan file or the planner), prepares and
// lists them, and then stops with an answer saying that performing them is not
// available yet.
class Agent {
public:
    struct Seams {
        Paths& paths;
        Processes& processes;
        Clock& clock;
        // The service client for the stored link; none when this machine is not linked.
        std::function<std::optional<APIClient>()> serviceClient;
    };

    Agent(Seams seams, ProgressLog log);

    // Throws the run's error; its description is what the person is shown.
    void run(const RunParams& params, std::stop_token stop = {});

    // The steps as the run performs them: the start page's navigation dropped, and
    // each step numbered among those naming the same thing.
    static std::vector<Step> prepared(std::vector<Step> steps, const std::optional<std::string>& startURL);

    // "  3. click target="Save" …": the planned step's line in the log.
    static std::string plannedLine(std::size_t number, const Step& step);

    // The runs folder: beside the configuration file.
    std::filesystem::path runsFolder();

private:
    Plan plan(const RunParams& params, std::stop_token stop);

    Seams seams_;
    ProgressLog log_;
};

} // namespace vanto
