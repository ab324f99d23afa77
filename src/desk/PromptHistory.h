#pragma once

#include "platform/Defaults.h"

#include <string>
#include <vector>

namespace vanto {

// The prompts recorded from the window, most recent first, at most ten, none twice.
class PromptHistory {
public:
    static constexpr const char* defaultsKey = "prompts";
    static constexpr std::size_t kept = 10;

    explicit PromptHistory(Defaults& defaults) : defaults_(defaults) {}

    // What is stored; entries that are not strings are left out.
    std::vector<std::string> prompts();
    // Puts the prompt first (trimmed); an empty one is not remembered.
    void remember(const std::string& prompt);

private:
    Defaults& defaults_;
};

} // namespace vanto
