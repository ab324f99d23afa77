#include "app/DesktopWindow.h"
#include "cli/Vanto.h"
#include "platform/linux/LinuxPlatform.h"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>

namespace {

// Does nothing: the write that raised the signal fails with EPIPE instead. A handler
// rather than SIG_IGN, because an ignored signal stays ignored in the programs we start.
extern "C" void ignoreBrokenPipe(int) {}

} // namespace

int main(int argc, char** argv) {
    // A reader of the answers that goes away must not kill a running take: the failed
    // write is seen by the control loop, which saves the recording and quits.
    std::signal(SIGPIPE, ignoreBrokenPipe);
    vanto::LinuxPlatform backend;
    // Panels need a display; without one the program runs with none.
    std::unique_ptr<vanto::Ui> panels;
    if (const char* display = std::getenv("DISPLAY"); display && *display) {
        panels = vanto::makeDesktopPanels(backend.runLoop());
        backend.usePanels(*panels);
    }
    auto platform = backend.platform();
    vanto::Vanto program(platform, std::cin, std::cout, std::cerr);
    program.setDesktopWindow(vanto::runDesktopWindow);
    return program.main(vanto::Arguments(argv, argv + argc), backend.runLoop());
}
