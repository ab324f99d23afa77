#pragma once

#include <filesystem>
#include <optional>

namespace vanto {

class Engine;
class RunLoop;

// Opens the desktop window over the engine, with the demo sheet at `sheet` open when one
// is named (opened from outside, so it may record itself), and serves it, with the
// engine's own main-thread work, on the calling thread until the person quits. Answers
// the exit status: 0, or 1 when there is no display to open it on.
int runDesktopWindow(Engine& engine, RunLoop& mainLoop, const std::optional<std::filesystem::path>& sheet);

} // namespace vanto
