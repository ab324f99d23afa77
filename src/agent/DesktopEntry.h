#pragma once

#include "platform/Paths.h"
#include "platform/Processes.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vanto {

// An application installed on this desktop, as its desktop entry file describes it.
struct DesktopEntry {
    std::string id;      // "chromium" for chromium.desktop; a subfolder is joined with "-"
    std::string name;    // Name, untranslated
    std::string exec;    // Exec, as written
    std::string wmClass; // StartupWMClass; empty when absent
    bool operator==(const DesktopEntry&) const = default;

    // The entry's [Desktop Entry] group; none unless it is a launchable application
    // (Type=Application with a Name and an Exec, and not Hidden).
    static std::optional<DesktopEntry> parse(std::string_view text, std::string id);

    // The Exec line as a program and its arguments: quoting undone and field codes
    // removed, for starting without a shell. None when it is empty or its quoting is broken.
    static std::optional<std::vector<std::string>> command(std::string_view exec);

    // The folders searched for applications, in order: $XDG_DATA_HOME/applications
    // (~/.local/share when unset), then each of $XDG_DATA_DIRS (/usr/local/share:/usr/share
    // when unset) with /applications.
    static std::vector<std::filesystem::path> searchPlaces(Processes& processes, Paths& paths);

    // The first entry, folder by folder, whose Name, id or StartupWMClass is the name,
    // ignoring case. An id met in an earlier folder hides the same id further on, as it
    // does on the desktop; unreadable files and folders are passed over.
    static std::optional<DesktopEntry> installedApplication(std::string_view matching,
                                                            const std::vector<std::filesystem::path>& in);
};

} // namespace vanto
