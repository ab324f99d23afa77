#include "agent/Agent.h"
#include "base/Error.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace vanto {

Agent::Driven Agent::drive(const DriveParams& params, std::stop_token stop) {
    throw Error("unfinished: driven takes");
}

void Agent::driveSteps(const DriveParams& params, Driven& soFar, std::stop_token stop) {
    throw Error("unfinished: driven takes");
}

DriverResult Agent::driven(std::int64_t id, const Step& step, const DriveParams& params, std::stop_token stop) {
    throw Error("unfinished: driven takes");
}

} // namespace vanto
