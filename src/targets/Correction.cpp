#include "targets/Correction.h"

#include "base/Json.h"

namespace vanto {

nlohmann::json Correction::toJSON() const {
    nlohmann::json out = {{"label", label}, {"role", role}, {"identity", identity}, {"forThisRunOnly", forThisRunOnly}};
    if (nth) out["nth"] = *nth;
    if (near) out["near"] = *near;
    if (scrolledBy) out["scrolledBy"] = *scrolledBy;
    if (inPage) out["inPage"] = *inPage;
    return out;
}

Correction Correction::fromJSON(const nlohmann::json& value) {
    const auto& object = json::requireObject(value, "a correction");
    Correction correction;
    correction.label = json::requireString(object, "label");
    correction.role = json::requireString(object, "role");
    correction.identity = json::optionalString(object, "identity").value_or("");
    correction.nth = json::optionalInt(object, "nth");
    correction.near = json::optionalString(object, "near");
    correction.scrolledBy = json::optionalInt(object, "scrolledBy");
    correction.inPage = json::optionalBool(object, "inPage");
    correction.forThisRunOnly = json::optionalBool(object, "forThisRunOnly").value_or(false);
    return correction;
}

} // namespace vanto
