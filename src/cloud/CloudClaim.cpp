#include "cloud/CloudClaim.h"

#include "base/Json.h"

namespace vanto {
namespace {

// The readers below share the base ones' wording, so that every decoding error of the
// program reads alike.
const nlohmann::json& required(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) throw DecodeError(std::string("missing \"") + key + "\"");
    return *it;
}

std::int64_t requireInt(const nlohmann::json& object, const char* key) {
    required(object, key);
    return *json::optionalInt(object, key);
}

std::int32_t requireInt32(const nlohmann::json& object, const char* key) {
    required(object, key);
    return *json::optionalInt32(object, key);
}

bool requireBool(const nlohmann::json& object, const char* key) {
    required(object, key);
    return *json::optionalBool(object, key);
}

const nlohmann::json& requireObject(const nlohmann::json& object, const char* key) {
    const auto& value = required(object, key);
    if (!value.is_object()) throw DecodeError(std::string("\"") + key + "\" must be an object");
    return value;
}

// Names the part of the claim a nested error is about.
template <typename Decode> auto within(const std::string& where, Decode&& decode) {
    try {
        return decode();
    } catch (const BadNumber& error) {
        throw BadNumber(where + ": " + error.what());
    } catch (const DecodeError& error) {
        throw DecodeError(where + ": " + error.what());
    }
}

} // namespace

CloudStage CloudStage::fromJSON(const nlohmann::json& object) {
    json::requireObject(object, "\"stage\"");
    // A window's size fits an int on every desktop, as in a sheet's own stage.
    return CloudStage{requireInt32(object, "width"), requireInt32(object, "height")};
}

CloudScene CloudScene::fromJSON(const nlohmann::json& object) {
    json::requireObject(object, "a scene");
    CloudScene scene;
    scene.kind = json::requireString(object, "kind");
    scene.name = json::optionalString(object, "name");
    scene.startURL = json::optionalString(object, "startURL");
    scene.prompt = json::optionalString(object, "prompt");
    scene.seconds = json::optionalDouble(object, "seconds");
    scene.freezeOn = json::optionalString(object, "freezeOn");
    scene.title = json::optionalString(object, "title");
    scene.subtitle = json::optionalString(object, "subtitle");
    scene.callToAction = json::optionalString(object, "call_to_action");
    scene.takeID = json::optionalString(object, "take_id");
    scene.attempt = json::optionalInt(object, "attempt");
    scene.driven = json::optionalBool(object, "driven");
    return scene;
}

CloudSheet CloudSheet::fromJSON(const nlohmann::json& object) {
    json::requireObject(object, "\"sheet\"");
    CloudSheet sheet;
    sheet.title = json::requireString(object, "title");
    sheet.project = json::optionalString(object, "project");
    sheet.projectSettings = json::optionalBool(object, "project_settings");
    sheet.stage = within("stage", [&] { return CloudStage::fromJSON(requireObject(object, "stage")); });
    const auto& scenes = required(object, "scenes");
    if (!scenes.is_array()) throw DecodeError("\"scenes\" must be an array of scenes");
    for (std::size_t i = 0; i < scenes.size(); ++i)
        sheet.scenes.push_back(
            within("scene " + std::to_string(i + 1), [&] { return CloudScene::fromJSON(scenes[i]); }));
    return sheet;
}

CloudClaim CloudClaim::fromJSON(const nlohmann::json& object) {
    json::requireObject(object, "a claim");
    CloudClaim claim;
    claim.id = json::requireString(object, "id");
    claim.attempt = requireInt(object, "attempt");
    claim.requestedBy = json::requireString(object, "requested_by");
    claim.sheet = within("sheet", [&] { return CloudSheet::fromJSON(requireObject(object, "sheet")); });
    claim.intoVideoID = json::optionalString(object, "into_video_id");
    claim.claimToken = json::requireString(object, "claim_token");
    const auto& limits = requireObject(object, "limits");
    for (const auto& item : limits.items()) {
        const std::string key = item.key();
        claim.limits[key] = within("limits", [&] { return requireInt(limits, key.c_str()); });
    }
    claim.resume = requireBool(object, "resume");
    return claim;
}

std::int64_t CloudClaim::runMs() const {
    auto limit = limits.find("run_ms");
    return limit == limits.end() ? defaultRunMs : limit->second;
}

} // namespace vanto
