#pragma once

#include <set>
#include <string>
#include <string_view>

namespace vanto {

// The role tables: which roles are things one acts on, which only web content has,
// which cover a whole window, which carry an on/off value, and which roles a planner's role word stands for.
class AXRoles {
public:
    AXRoles() = delete;

    static const std::set<std::string>& actionable();
    static const std::set<std::string>& web();
    static const std::set<std::string>& roots();
    // Roles whose value a click changes, so the value proves the click.
    static const std::set<std::string>& values();
    // The lower-cased roles a planner's role word stands for.
    static std::set<std::string> forWord(std::string_view word);
};

} // namespace vanto
