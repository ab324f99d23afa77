#pragma once

#include "targets/CorrectionStore.h"

#include <string>
#include <vector>

namespace vanto::MemoryPane {

// "Nothing yet.", or how many answers across how many applications.
std::string status(const CorrectionStore::Entries& entries);
// The applications that have answers, each once, in key order.
std::vector<std::string> applications(const CorrectionStore::Entries& entries);

inline constexpr const char* heading = "What Vanto has been shown";
inline constexpr const char* explanation =
    "Where you pointed at something it could not find, so it need not ask again.";
inline constexpr const char* forgetTitle = "Forget\u2026";
inline constexpr const char* everything = "Everything";

} // namespace vanto::MemoryPane
