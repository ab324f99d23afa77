#include "cli/Vanto.h"
#include "platform/linux/LinuxPlatform.h"

#include <iostream>

int main(int argc, char** argv) {
    vanto::LinuxPlatform backend;
    auto platform = backend.platform();
    vanto::Vanto program(platform, std::cin, std::cout, std::cerr);
    return program.main(vanto::Arguments(argv, argv + argc), backend.runLoop());
}
