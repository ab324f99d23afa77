#include "cli/Vanto.h"
#include "platform/linux/LinuxPlatform.h"

#include <cstdlib>
#include <iostream>
#include <memory>

int main(int argc, char** argv) {
    vanto::LinuxPlatform backend;
    // Panels need a display; without one the program runs with none.
    std::unique_ptr<vanto::Ui> panels;
    if (const char* display = std::getenv("DISPLAY"); display && *display) {
        panels = vanto::makeDesktopPanels(backend.runLoop());
        backend.usePanels(*panels);
    }
    auto platform = backend.platform();
    vanto::Vanto program(platform, std::cin, std::cout, std::cerr);
    return program.main(vanto::Arguments(argv, argv + argc), backend.runLoop());
}
