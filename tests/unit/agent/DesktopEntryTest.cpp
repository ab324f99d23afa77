#include "agent/DesktopEntry.h"

#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace vanto;
namespace fs = std::filesystem;

namespace {

using Words = std::vector<std::string>;

void write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

std::string entry(const std::string& name, const std::string& exec, const std::string& more = "") {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\nName[de]=Übersetzt\nExec=" + exec + "\n" + more;
}

} // namespace

// Exec lines become a program and arguments without a shell: quotes and their escapes
// undone, field codes gone (and the words that were only a field code), "%%" kept as "%".
TEST(DesktopEntry, CommandFromExecLine) {
    EXPECT_EQ(DesktopEntry::command("/usr/bin/chromium %U"), Words{"/usr/bin/chromium"});
    EXPECT_EQ(DesktopEntry::command(R"("/opt/My App/run" --title="a b" %f 100%% --x=%i)"),
              (Words{"/opt/My App/run", "--title=a b", "100%", "--x="}));
    EXPECT_EQ(DesktopEntry::command(R"(sh -c "echo \"hi\" \$HOME \\ \n")"),
              (Words{"sh", "-c", R"(echo "hi" $HOME \ \n)"}));
    EXPECT_EQ(DesktopEntry::command(R"(app "unterminated)"), std::nullopt);
    EXPECT_EQ(DesktopEntry::command("  %F  "), std::nullopt);
}

// Only launchable applications count; a translated name is not the name; string escapes
// are undone in values.
TEST(DesktopEntry, ParsesTheDesktopEntryGroupOnly) {
    auto parsed = DesktopEntry::parse("# c\n[Other]\nName=Wrong\n" + entry("Text\\sEditor", "gedit %U") +
                                          "StartupWMClass=Gedit\n[Desktop Action new]\nExec=other\n",
                                      "org.gnome.gedit");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, (DesktopEntry{"org.gnome.gedit", "Text Editor", "gedit %U", "Gedit"}));
    EXPECT_FALSE(DesktopEntry::parse(entry("Gone", "gone", "Hidden=true\n"), "gone"));
    EXPECT_FALSE(DesktopEntry::parse("[Desktop Entry]\nType=Link\nName=Site\nExec=x\n", "site"));
    EXPECT_FALSE(DesktopEntry::parse("[Desktop Entry]\nType=Application\nName=No Exec\n", "noexec"));
}

// Folders are searched in order; the user's own entry hides the system's of the same id;
// a name matches Name, id or StartupWMClass ignoring case; ids of subfolders are joined
// with "-".
TEST(DesktopEntry, InstalledApplicationSearchesThePlacesInOrder) {
    fake::FakePlatform desktop;
    const auto user = desktop.paths.home() / ".local" / "share" / "applications";
    const auto system = desktop.paths.home() / "usr" / "share" / "applications";
    desktop.processes.env["XDG_DATA_DIRS"] = (desktop.paths.home() / "usr" / "share").string() + ":";
    const auto places = DesktopEntry::searchPlaces(desktop.processes, desktop.paths);
    ASSERT_EQ(places, (std::vector<fs::path>{user, system}));

    write(system / "chromium.desktop", entry("Chromium Web Browser", "/usr/bin/chromium %U"));
    write(user / "chromium.desktop", entry("My Chromium", "/home/me/chromium"));
    write(system / "gedit.desktop", entry("Text Editor", "gedit", "StartupWMClass=Gedit\n"));
    write(system / "kde" / "kate.desktop", entry("Kate", "kate"));
    write(system / "hidden.desktop", entry("Ghost", "ghost", "Hidden=true\n"));

    EXPECT_EQ(DesktopEntry::installedApplication("CHROMIUM", places)->exec, "/home/me/chromium");
    EXPECT_FALSE(DesktopEntry::installedApplication("Chromium Web Browser", places));
    EXPECT_EQ(DesktopEntry::installedApplication("gedit", places)->name, "Text Editor");
    EXPECT_EQ(DesktopEntry::installedApplication(" text editor ", places)->id, "gedit");
    EXPECT_EQ(DesktopEntry::installedApplication("kde-kate", places)->name, "Kate");
    EXPECT_FALSE(DesktopEntry::installedApplication("ghost", places));
    EXPECT_FALSE(DesktopEntry::installedApplication("", places));
}
