#include "drivers/DriverResult.h"

namespace vanto {

std::string_view DriverResult::text(Outcome outcome) {
    switch (outcome) {
    case Outcome::started:
        return "started";
    case Outcome::done:
        return "done";
    case Outcome::unchanged:
        return "unchanged";
    case Outcome::failed:
        return "failed";
    case Outcome::looked:
        return "looked";
    case Outcome::ended:
        return "ended";
    }
    return "failed";
}

nlohmann::json toJSON(const DriverResult& result) {
    nlohmann::json out = nlohmann::json::object();
    out["id"] = result.id;
    out["outcome"] = DriverResult::text(result.outcome);
    if (result.error) out["error"] = *result.error;
    if (result.look) out["look"] = toJSON(*result.look);
    return out;
}

} // namespace vanto
