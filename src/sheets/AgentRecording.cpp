#include "sheets/AgentRecording.h"

#include "base/Files.h"

#include <nlohmann/json.hpp>

#include <array>

namespace vanto::AgentRecording {
namespace {

std::filesystem::path standardised(const std::filesystem::path& location) {
    std::error_code ignored;
    auto absolute = std::filesystem::absolute(location, ignored);
    return (absolute.empty() ? location : absolute).lexically_normal();
}

} // namespace

bool isAllowed(Defaults& defaults) {
    return defaults.boolValue(defaultsKey, true);
}

bool askedToRecordItself(const std::filesystem::path& sheet) {
    try {
        const auto document = nlohmann::json::parse(readFile(sheet));
        if (!document.is_object()) return false;
        auto unattended = document.find("unattended");
        return unattended != document.end() && unattended->is_boolean() && unattended->get<bool>();
    } catch (const std::exception&) {
        return false;
    }
}

WhileAsking whileAsking(const std::filesystem::path& report, const std::optional<std::filesystem::path>& asking,
                        bool recordsItself) {
    if (!asking) return WhileAsking::carryOn;
    if (standardised(report) == standardised(*asking)) return WhileAsking::sameSheet;
    return recordsItself ? WhileAsking::refuse : WhileAsking::openPlainly;
}

bool carriesDownloadMark(ExtendedAttributes& attributes, const std::filesystem::path& sheet) {
    // Browsers on Linux record where a download came from; macOS quarantines what was
    // downloaded or received, and some file systems carry that mark along.
    static constexpr std::array marks{"user.xdg.origin.url", "com.apple.quarantine"};
    for (const char* mark : marks) {
        // A file whose marks cannot be read is not trusted to be this machine's own.
        if (attributes.has(sheet, mark).value_or(true)) return true;
    }
    return false;
}

std::optional<std::string> refusal(const std::filesystem::path& sheet, ExtendedAttributes& attributes,
                                   Permissions& permissions, bool accountConnected) {
    if (carriesDownloadMark(attributes, sheet)) return downloaded;
    if (!permissions.screenCapturePreflight() || !permissions.accessibilityTrusted(false)) return missingPermissions;
    if (!accountConnected) return notConnected;
    return std::nullopt;
}

std::string alertText(const std::string& reason) {
    std::string text = reason;
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

std::optional<std::string> consent(Defaults& defaults, SheetReport& report,
                                   const std::function<void(const SheetReport&)>& save,
                                   const std::function<Answer()>& ask) {
    if (isAllowed(defaults)) return std::nullopt;
    report.state = SheetReport::State::asking;
    save(report);
    const Answer answer = ask();
    if (answer == Answer::allow) {
        defaults.set(defaultsKey, true);
        report.state = SheetReport::State::recording;
        return std::nullopt;
    }
    const char* reason = answer == Answer::deny ? personSaidNo : askedAboutAnother;
    report.refused(reason);
    return reason;
}

} // namespace vanto::AgentRecording
