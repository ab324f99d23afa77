#include "desk/PromptHistory.h"

#include "base/Text.h"

#include <algorithm>

namespace vanto {

std::vector<std::string> PromptHistory::prompts() {
    std::vector<std::string> out;
    const auto stored = defaults_.get(defaultsKey);
    if (!stored || !stored->is_array()) return out;
    for (const auto& entry : *stored)
        if (entry.is_string()) out.push_back(entry.get<std::string>());
    return out;
}

void PromptHistory::remember(const std::string& prompt) {
    const auto trimmed = text::trimWhitespaceAndNewlines(prompt);
    if (trimmed.empty()) return;
    auto list = prompts();
    std::erase(list, trimmed);
    list.insert(list.begin(), trimmed);
    if (list.size() > kept) list.resize(kept);
    defaults_.set(defaultsKey, list);
}

} // namespace vanto
