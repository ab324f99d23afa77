#pragma once

#include "base/Error.h"
#include "sheets/Scene.h"
#include "sheets/Stage.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vanto {

// A whole demo video planned as an ordered list of scenes.
struct DemoSheet {
    // The highest sheet version this build reads.
    static constexpr std::int64_t newestVersion = 1;

    // Why a sheet could not be loaded or may not be recorded. Scene positions are
    // kept 0-based and shown 1-based.
    class Failure : public Error {
    public:
        enum class Case {
            unreadable,
            malformed,
            tooNew,
            sceneWithoutPrompt,
            holdWithPrompt,
            drivenWithoutStage,
            unsupportedBrowser,
            stageTooSmall,
            noScenes,
            nothingToRecord,
        };

        static Failure unreadable(const std::filesystem::path& location, const std::string& reason);
        static Failure malformed(const std::string& reason);
        static Failure tooNew(std::int64_t version);
        static Failure sceneWithoutPrompt(std::size_t index, const std::string& name);
        static Failure holdWithPrompt(std::size_t index, const std::string& name);
        static Failure drivenWithoutStage(std::size_t index, const std::string& name);
        static Failure unsupportedBrowser(const std::string& browser);
        static Failure stageTooSmall(std::int64_t width, std::int64_t height);
        static Failure noScenes();
        static Failure nothingToRecord();

        Case which() const noexcept { return case_; }
        // The scene a per-scene failure is about.
        std::optional<std::size_t> sceneIndex() const noexcept { return sceneIndex_; }

    private:
        Failure(Case which, std::string message, std::optional<std::size_t> sceneIndex = std::nullopt);
        Case case_;
        std::optional<std::size_t> sceneIndex_;
    };

    std::int64_t version = 1;
    std::string title;
    std::optional<std::string> claim;
    std::optional<std::string> narration;
    std::vector<std::string> preconditions;
    bool unattended = false;
    std::optional<Stage> stage;
    std::optional<std::string> project;
    bool projectSettings = true;
    std::vector<Scene> scenes;

    bool operator==(const DemoSheet&) const = default;

    // Strict decoding; unknown keys are ignored. Throws DecodeError.
    static DemoSheet fromJSON(const nlohmann::json& object);
    // Parses and decodes the bytes of a sheet file; throws Failure (malformed, or
    // tooNew for a newer sheet whose other keys this build cannot judge).
    static DemoSheet decode(std::string_view bytes);
    // Reads, decodes and validates the file; throws Failure.
    static DemoSheet load(const std::filesystem::path& location);

    // Throws the first rule the sheet breaks, as a Failure.
    void validate() const;

    // Positions (0-based) of the takes, in sheet order.
    std::vector<std::size_t> takes() const;
};

// Where the sheet named with --demo lies: a leading "~" stands for home; a relative
// path is taken from the current folder.
std::filesystem::path launchLocation(const std::string& path, const std::filesystem::path& home);
// That sheet, loaded. Throws DemoSheet::Failure.
DemoSheet loadForLaunch(const std::string& path, const std::filesystem::path& home);

} // namespace vanto
