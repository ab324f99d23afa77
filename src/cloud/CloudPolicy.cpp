#include "cloud/CloudPolicy.h"

#include "base/Text.h"

#include <algorithm>

namespace vanto {

CloudPolicy::Refusal CloudPolicy::Refusal::leavesTheStage(const std::string& app) {
    return {Case::leavesTheStage,
            "a run an assistant asked for stays in the stage browser, and this step opens " + app};
}

CloudPolicy::Refusal CloudPolicy::Refusal::browserShortcut(const std::string& key) {
    return {Case::browserShortcut, "a run an assistant asked for presses only keys meant for the page, not " + key};
}

CloudPolicy::Refusal CloudPolicy::Refusal::browserControls() {
    return {Case::browserControls, "a run an assistant asked for types only into the page, not into the browser's "
                                   "own address bar or search box"};
}

CloudPolicy::CloudPolicy(std::vector<std::filesystem::path> files, CloudGuard::Resolve resolve)
    : allowedFiles(std::move(files)), resolve_(std::move(resolve)) {}

bool CloudPolicy::isBrowserShortcut(std::string_view key) {
    std::string chord = text::asciiLower(key);
    std::erase_if(chord, [](char c) { return c == ' ' || c == '\t'; });
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= chord.size()) {
        auto plus = chord.find('+', start);
        auto piece = chord.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
        if (!piece.empty()) pieces.push_back(piece);
        if (plus == std::string::npos) break;
        start = plus + 1;
    }
    if (pieces.empty()) return false; // nothing would be pressed
    bool onlyShift = std::all_of(pieces.begin(), pieces.end() - 1, [](const std::string& m) { return m == "shift"; });
    if (!onlyShift) return true;
    return pieces.back() == "f6";
}

void CloudPolicy::admit(const Step& step) const {
    if (step.action == "open") {
        bool named = step.app && !step.app->empty();
        throw Refusal::leavesTheStage(named ? *step.app : "another application");
    }
    if (step.action == "navigate") {
        CloudGuard::check(step.url.value_or(""), allowedFiles, resolve_);
        return;
    }
    if (step.action == "key" && isBrowserShortcut(step.key.value_or(""))) throw Refusal::browserShortcut(*step.key);
}

} // namespace vanto
