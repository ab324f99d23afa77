#pragma once

#include <optional>
#include <string>

namespace vanto {

// The account as the control protocol reports it.
struct AccountStatus {
    bool connected = false;
    std::string apiBase;
    std::optional<std::string> email;
    std::optional<std::string> name;
};

} // namespace vanto
