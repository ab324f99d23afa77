#pragma once

#include "base/Random.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vanto {

// A full-screen title page for a "card" scene. The page loads nothing from outside
// and runs no script, so the cloud guard can allow exactly this file.
struct TitleCard {
    std::string title;
    std::optional<std::string> subtitle;
    std::optional<std::string> callToAction;

    // The text with & < > " and ' written as entities.
    static std::string escaped(std::string_view text);

    std::string html() const;

    // Creates the folder if needed and writes the page atomically as "<UUID>.html".
    // Returns the file; throws std::filesystem::filesystem_error.
    std::filesystem::path write(const std::filesystem::path& folder, Random& random) const;
};

} // namespace vanto
