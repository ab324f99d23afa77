#include "cloud/CloudSheetMaker.h"

#include "base/AtomicFile.h"
#include "sheets/TitleCard.h"

#include <cmath>

namespace vanto {
namespace fs = std::filesystem;
namespace {

std::string sceneName(const CloudScene& cloud, std::size_t number) {
    if (cloud.name && !cloud.name->empty()) return *cloud.name;
    if (cloud.title) return *cloud.title;
    return "Scene " + std::to_string(number);
}

// Lets the service recognise a take it has seen before, when it numbered the take.
std::optional<std::string> clientKey(const CloudScene& cloud) {
    if (!cloud.takeID) return std::nullopt;
    return "take:" + *cloud.takeID + ":attempt:" + std::to_string(cloud.attempt.value_or(1));
}

std::string fileURL(const fs::path& file) {
    // Title cards are written under names of our own (a UUID in the run's folder), but
    // the folder comes from the home folder, which may hold anything.
    std::string url = "file://";
    for (unsigned char c : fs::absolute(file).string()) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                     c == '-' || c == '_' || c == '.' || c == '~';
        if (plain) {
            url += static_cast<char>(c);
        } else {
            static constexpr char hex[] = "0123456789ABCDEF";
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

} // namespace

CloudSheetMaker::CloudSheetMaker(CloudSheet cloud, fs::path folder, std::optional<std::int64_t> screenHeight,
                                 Random& random, CloudGuard::Resolve resolve)
    : cloud_(std::move(cloud)), folder_(std::move(folder)), screenHeight_(screenHeight), random_(random),
      resolve_(std::move(resolve)) {}

fs::path CloudSheetMaker::holdPlan() const {
    createFolders(folder_, fs::perms::owner_all);
    auto file = folder_ / "hold-card.json";
    writeAtomically(file, holdPlanText);
    return file;
}

Stage CloudSheetMaker::stage(const CloudStage& cloudStage) const {
    constexpr auto bars = Stage::browserBarsHeight;
    std::int64_t width = cloudStage.width;
    std::int64_t pageHeight = cloudStage.height;
    // A page of no height cannot be scaled; it is left as asked and the sheet's
    // validation refuses the stage as too small.
    if (screenHeight_ && *screenHeight_ < pageHeight + bars && pageHeight > 0) {
        auto fitted = *screenHeight_ - bars;
        width =
            std::llround(static_cast<double>(width) * static_cast<double>(fitted) / static_cast<double>(pageHeight));
        pageHeight = fitted;
    }
    // The window is the page plus the browser's own bars and borders, so that the page
    // area itself has the size asked for.
    return Stage{"Google Chrome", width + Stage::browserSideBorders, pageHeight + bars};
}

CloudSheetMaker::Made CloudSheetMaker::make() const {
    DemoSheet sheet;
    sheet.version = 1;
    sheet.title = cloud_.title;
    sheet.unattended = true;
    sheet.stage = stage(cloud_.stage);
    sheet.project = cloud_.project;
    sheet.projectSettings = cloud_.projectSettings.value_or(true);

    std::vector<fs::path> titleCards;
    std::optional<fs::path> plan; // every card of the run shares one
    for (std::size_t i = 0; i < cloud_.scenes.size(); ++i) {
        const CloudScene& cloud = cloud_.scenes[i];
        Scene scene;
        scene.name = sceneName(cloud, i + 1);
        if (cloud.kind == "hold") {
            scene.kind = Scene::Kind::hold;
            scene.seconds = cloud.seconds;
            scene.freezeOn = cloud.freezeOn;
        } else if (cloud.kind == "card") {
            TitleCard card{cloud.title.value_or(scene.name), cloud.subtitle, cloud.callToAction};
            auto page = card.write(folder_, random_);
            titleCards.push_back(page);
            if (!plan) plan = holdPlan();
            scene.prompt = "Hold on the title card";
            scene.startURL = fileURL(page);
            scene.pageOnly = true;
            scene.planFile = plan;
            scene.clientKey = clientKey(cloud);
        } else {
            scene.prompt = cloud.prompt;
            scene.startURL = cloud.startURL;
            scene.pageOnly = true;
            scene.clientKey = clientKey(cloud);
            scene.driven = cloud.driven.value_or(false);
        }
        sheet.scenes.push_back(std::move(scene));
    }
    sheet.validate();
    return Made{std::move(sheet), CloudPolicy(std::move(titleCards), resolve_)};
}

} // namespace vanto
