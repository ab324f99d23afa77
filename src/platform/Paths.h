#pragma once

#include <filesystem>

namespace vanto {

// Where the program keeps its files. Folder layouts and file names below these
// roots are the same on every platform.
class Paths {
public:
    virtual ~Paths() = default;

    virtual std::filesystem::path home() = 0;
    // ~/.config/vanto: config.json, runs/, cloud-run.json, defaults.json
    virtual std::filesystem::path configDir() = 0;
    // logs, such as run.log
    virtual std::filesystem::path stateDir() = 0;
    // run folders and the stage browser's profile
    virtual std::filesystem::path dataDir() = 0;
    virtual std::filesystem::path tempDir() = 0;
};

} // namespace vanto
