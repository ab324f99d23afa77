#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vanto {

// What a find request asks: which application's tree to read and how much of it
// (pid, unclipped, allWindows), and which of its elements answer (the rest).
struct FindParams {
    std::optional<std::int32_t> pid{};
    std::optional<std::string> text{};
    std::optional<std::string> role{};
    std::int64_t limit = 20;
    std::optional<std::string> near{};
    std::optional<std::int64_t> nth{};
    bool unclipped = false;
    bool allWindows = false;
};

} // namespace vanto
