// The planner's answer as the service sends it. A plan that decodes must encode and
// decode again to the same plan: what the run log keeps is what was run.

#include "plan/Plan.h"
#include "base/Json.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    vanto::Plan plan;
    try {
        plan = vanto::decodePlan(text);
    } catch (const vanto::DecodeError&) {
        return 0;
    }
    for (const auto& step : plan.steps) (void)vanto::waitSeconds(step);
    auto again = vanto::decodePlan(vanto::toJSON(plan).dump());
    if (!(again == plan)) std::abort();
    return 0;
}
