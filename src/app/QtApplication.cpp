#include "app/QtApplication.h"

#include <QApplication>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace vanto {
namespace {

// Without XDG_RUNTIME_DIR (root outside a login session, say) Qt writes a warning to
// standard error and makes a folder in /tmp itself; the person reading vanto's output
// should see vanto's lines only. So Qt gets such a folder from us, private (0700 and
// ours) as the variable's definition asks. A folder of that name that is somebody
// else's is left alone, and Qt's own warning then says what is wrong.
void providePrivateRuntimeDir() {
    if (const char* set = std::getenv("XDG_RUNTIME_DIR"); set && *set) return;
    std::error_code error;
    std::filesystem::path temp = std::filesystem::temp_directory_path(error);
    if (error) temp = "/tmp";
    const std::string folder = (temp / ("vanto-runtime-" + std::to_string(::geteuid()))).string();
    ::mkdir(folder.c_str(), 0700);
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::geteuid()) return;
    if ((status.st_mode & 0077) != 0 && ::chmod(folder.c_str(), 0700) != 0) return;
    ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 0);
}

} // namespace

void ensureQtApplication() {
    if (QApplication::instance()) return;
    providePrivateRuntimeDir();
    static int argc = 1;
    static char name[] = "vanto";
    static char* argv[] = {name, nullptr};
    // Never deleted: widgets owned elsewhere (the panels, the window) are destroyed
    // at different times, and each must find the application still there.
    static QApplication* application = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    (void)application;
}

} // namespace vanto
