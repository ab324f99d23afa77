#include "sheets/DemoProgress.h"

#include "base/Numbers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace vanto {
namespace {

// A hold's length in whole seconds, even one too long for a 64-bit number.
std::string wholeSeconds(double seconds) {
    if (auto whole = truncatedToInt64(seconds)) return std::to_string(*whole);
    char text[400];
    std::snprintf(text, sizeof text, "%.0f", std::trunc(seconds));
    return text;
}

} // namespace

DemoProgress::DemoProgress(DemoSheet sheet) : sheet(std::move(sheet)) {
    auto takes = this->sheet.takes();
    selected = takes.empty() ? 0 : takes.front();
}

std::optional<std::size_t> DemoProgress::nextUnrecorded(std::size_t after) const {
    const auto takes = sheet.takes();
    auto unrecorded = [&](std::size_t position) { return !recorded.count(position); };
    auto later = std::find_if(takes.begin(), takes.end(), [&](std::size_t p) { return p > after && unrecorded(p); });
    if (later != takes.end()) return *later;
    auto earlier = std::find_if(takes.begin(), takes.end(), [&](std::size_t p) { return p < after && unrecorded(p); });
    if (earlier != takes.end()) return *earlier;
    return std::nullopt;
}

std::optional<DemoProgress::Place> DemoProgress::placement(std::size_t position) const {
    if (!videoID || position >= sheet.scenes.size() || sheet.scenes[position].kind != Scene::Kind::take)
        return std::nullopt;
    return Place{*videoID, endOfLastTake};
}

void DemoProgress::advance(std::optional<std::size_t> position, const TakeOutcome& outcome) {
    const auto* run = std::get_if<TakeRun>(&outcome);
    if (!run || !position || *position >= sheet.scenes.size()) return;
    std::optional<std::string> video;
    if (run->insertedInto && !run->insertedInto->empty())
        video = run->insertedInto;
    else if (run->uploadID && !run->uploadID->empty())
        video = run->uploadID;
    if (!video) return;

    recorded.insert(*position);
    videoID = video;
    const double start = run->insertedAtMs ? static_cast<double>(*run->insertedAtMs) / 1000 : endOfLastTake;
    endOfLastTake = std::max(endOfLastTake, start + run->duration);
    if (auto next = nextUnrecorded(*position)) selected = *next;
}

std::vector<std::string> DemoProgress::remainingInTheEditor() const {
    std::vector<std::string> lines;
    for (const Scene& scene : sheet.scenes) {
        if (scene.kind != Scene::Kind::hold) continue;
        std::string line = "Freeze the frame";
        if (scene.freezeOn) line += " on " + *scene.freezeOn;
        if (scene.seconds) line += " for " + wholeSeconds(*scene.seconds) + "s";
        lines.push_back(std::move(line));
    }
    if (sheet.narration && !sheet.narration->empty())
        lines.push_back("Write the narration, last, from the prompt in the sheet");
    return lines;
}

} // namespace vanto
