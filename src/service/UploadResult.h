#pragma once

#include <cstdint>
#include <string>

namespace vanto {

// Where an uploaded take went: the new video's id, the page where the person can open
// it, and how many events were sent with it.
struct UploadResult {
    std::string id;
    std::string url;
    std::int64_t events = 0;
    bool operator==(const UploadResult&) const = default;
};

} // namespace vanto
