#include "sheets/DemoSheet.h"

#include "base/Files.h"
#include "base/Json.h"
#include "base/Text.h"

#include <algorithm>
#include <system_error>

namespace vanto {
namespace {

namespace fs = std::filesystem;

std::string quotedScene(std::size_t index, const std::string& name) {
    return "scene " + std::to_string(index + 1) + ", \"" + name + "\", ";
}

} // namespace

DemoSheet::Failure::Failure(Case which, std::string message, std::optional<std::size_t> sceneIndex)
    : Error(std::move(message)), case_(which), sceneIndex_(sceneIndex) {}

DemoSheet::Failure DemoSheet::Failure::unreadable(const fs::path& location, const std::string& reason) {
    return {Case::unreadable, "could not read the demo sheet at " + location.string() + ": " + reason};
}

DemoSheet::Failure DemoSheet::Failure::malformed(const std::string& reason) {
    return {Case::malformed, "the demo sheet is not a sheet this app understands: " + reason};
}

DemoSheet::Failure DemoSheet::Failure::tooNew(std::int64_t version) {
    return {Case::tooNew, "the demo sheet is version " + std::to_string(version) + ", and this app reads up to " +
                              "version " + std::to_string(newestVersion) + ". Update Vanto."};
}

DemoSheet::Failure DemoSheet::Failure::sceneWithoutPrompt(std::size_t index, const std::string& name) {
    return {Case::sceneWithoutPrompt, quotedScene(index, name) + "is a take with no prompt to record from", index};
}

DemoSheet::Failure DemoSheet::Failure::holdWithPrompt(std::size_t index, const std::string& name) {
    return {Case::holdWithPrompt,
            quotedScene(index, name) + "is a hold, which is frozen in the " +
                "editor rather than recorded - it should not carry a prompt",
            index};
}

DemoSheet::Failure DemoSheet::Failure::drivenWithoutStage(std::size_t index, const std::string& name) {
    return {Case::drivenWithoutStage,
            quotedScene(index, name) + "is driven, which needs a sheet that " +
                "records itself (\"unattended\": true) on a stage",
            index};
}

DemoSheet::Failure DemoSheet::Failure::unsupportedBrowser(const std::string& browser) {
    return {Case::unsupportedBrowser,
            "the stage asks for " + browser + ", and Google Chrome is the only browser " + "a stage can be"};
}

DemoSheet::Failure DemoSheet::Failure::stageTooSmall(std::int64_t width, std::int64_t height) {
    return {Case::stageTooSmall, "the stage is " + std::to_string(width) + "x" + std::to_string(height) +
                                     ", which is too small to record a page in"};
}

DemoSheet::Failure DemoSheet::Failure::noScenes() {
    return {Case::noScenes, "the demo sheet has no scenes in it"};
}

DemoSheet::Failure DemoSheet::Failure::nothingToRecord() {
    return {Case::nothingToRecord, "every scene in the demo sheet is a hold, so there is nothing to record"};
}

Stage Stage::fromJSON(const nlohmann::json& object) {
    json::requireObject(object, "\"stage\"");
    Stage stage;
    if (auto browser = json::optionalString(object, "browser")) stage.browser = *browser;
    // A window's size fits an int on every desktop; a larger one is a mistake in the sheet.
    if (auto width = json::optionalInt32(object, "width")) stage.width = *width;
    if (auto height = json::optionalInt32(object, "height")) stage.height = *height;
    return stage;
}

Scene Scene::fromJSON(const nlohmann::json& object) {
    json::requireObject(object, "a scene");
    Scene scene;
    if (auto kind = json::optionalString(object, "kind")) {
        if (*kind == "take")
            scene.kind = Kind::take;
        else if (*kind == "hold")
            scene.kind = Kind::hold;
        else
            throw DecodeError("\"kind\" must be \"take\" or \"hold\", not \"" + *kind + "\"");
    }
    scene.name = json::requireString(object, "name");
    scene.summary = json::optionalString(object, "summary");
    scene.startState = json::optionalString(object, "startState");
    scene.seconds = json::optionalDouble(object, "seconds");
    scene.prompt = json::optionalString(object, "prompt");
    scene.freezeOn = json::optionalString(object, "freezeOn");
    scene.startURL = json::optionalString(object, "startURL");
    scene.pageOnly = json::optionalBool(object, "pageOnly").value_or(false);
    scene.driven = json::optionalBool(object, "driven").value_or(false);
    return scene;
}

DemoSheet DemoSheet::fromJSON(const nlohmann::json& object) {
    json::requireObject(object, "a demo sheet");
    DemoSheet sheet;
    sheet.version = json::optionalInt(object, "version").value_or(1);
    sheet.title = json::requireString(object, "title");
    sheet.claim = json::optionalString(object, "claim");
    sheet.narration = json::optionalString(object, "narration");
    sheet.preconditions = json::optionalStrings(object, "preconditions").value_or(std::vector<std::string>{});
    sheet.unattended = json::optionalBool(object, "unattended").value_or(false);
    if (const auto* stage = json::optionalObject(object, "stage")) {
        try {
            sheet.stage = Stage::fromJSON(*stage);
        } catch (const DecodeError& error) {
            throw DecodeError(std::string("stage: ") + error.what());
        }
    }
    sheet.project = json::optionalString(object, "project");
    sheet.projectSettings = json::optionalBool(object, "project_settings").value_or(true);

    auto scenes = object.find("scenes");
    if (scenes == object.end() || scenes->is_null()) throw DecodeError("missing \"scenes\"");
    if (!scenes->is_array()) throw DecodeError("\"scenes\" must be an array of scenes");
    for (std::size_t i = 0; i < scenes->size(); ++i) {
        try {
            sheet.scenes.push_back(Scene::fromJSON((*scenes)[i]));
        } catch (const DecodeError& error) {
            throw DecodeError("scene " + std::to_string(i + 1) + ": " + error.what());
        }
    }
    return sheet;
}

DemoSheet DemoSheet::decode(std::string_view bytes) {
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(bytes);
    } catch (const nlohmann::json::exception& error) {
        throw Failure::malformed(json::description(error));
    }
    try {
        return fromJSON(document);
    } catch (const DecodeError& error) {
        // A newer sheet may be shaped in ways this build cannot judge; saying it is
        // too new helps more than naming the key that did not fit.
        std::optional<std::int64_t> version;
        try {
            if (document.is_object()) version = json::optionalInt(document, "version");
        } catch (const DecodeError&) {
        }
        if (version && *version > newestVersion) throw Failure::tooNew(*version);
        throw Failure::malformed(error.what());
    }
}

DemoSheet DemoSheet::load(const fs::path& location) {
    std::string bytes;
    try {
        bytes = readFile(location);
    } catch (const fs::filesystem_error& error) {
        throw Failure::unreadable(location, error.code().message());
    }
    auto sheet = decode(bytes);
    sheet.validate();
    return sheet;
}

void DemoSheet::validate() const {
    if (version > newestVersion) throw Failure::tooNew(version);
    if (scenes.empty()) throw Failure::noScenes();
    if (stage) {
        // The stage browser here is Chromium, which a sheet may also name as it is.
        auto browser = text::asciiLower(stage->browser);
        if (browser != "google chrome" && browser != "chromium") throw Failure::unsupportedBrowser(stage->browser);
        if (stage->width <= 639 || stage->height <= 399) throw Failure::stageTooSmall(stage->width, stage->height);
    }
    if (std::all_of(scenes.begin(), scenes.end(), [](const Scene& s) { return s.kind == Scene::Kind::hold; }))
        throw Failure::nothingToRecord();
    for (std::size_t i = 0; i < scenes.size(); ++i) {
        const Scene& scene = scenes[i];
        bool hasPrompt = !text::trimWhitespaceAndNewlines(scene.prompt.value_or("")).empty();
        if (scene.kind == Scene::Kind::hold && hasPrompt) throw Failure::holdWithPrompt(i, scene.name);
        if (scene.kind == Scene::Kind::take && !hasPrompt) throw Failure::sceneWithoutPrompt(i, scene.name);
        if (scene.driven && !(stage && unattended)) throw Failure::drivenWithoutStage(i, scene.name);
    }
}

std::vector<std::size_t> DemoSheet::takes() const {
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < scenes.size(); ++i)
        if (scenes[i].kind == Scene::Kind::take) positions.push_back(i);
    return positions;
}

fs::path launchLocation(const std::string& path, const fs::path& home) {
    fs::path location;
    if (path == "~")
        location = home;
    else if (path.starts_with("~/"))
        location = home / path.substr(2);
    else
        location = path;
    std::error_code error;
    auto absolute = fs::absolute(location, error);
    return error ? location : absolute;
}

DemoSheet loadForLaunch(const std::string& path, const fs::path& home) {
    return DemoSheet::load(launchLocation(path, home));
}

} // namespace vanto
