#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace vanto {

// What the person pointed at when a step's words were ambiguous, kept so that the same
// words in the same application need no question next time.
struct Correction {
    std::string label;                      // the text of the element pointed at
    std::string role;                       // its role
    std::string identity;                   // its identity; empty when it has none
    std::optional<std::int64_t> nth;        // its ordinal among namesakes
    std::optional<std::string> near;        // a neighbour's text that singles it out
    std::optional<std::int64_t> scrolledBy; // how far the page had been scrolled, in points
    std::optional<bool> inPage;             // whether it was inside web page content
    bool forThisRunOnly = false;            // dropped when the next run begins

    bool operator==(const Correction&) const = default;

    // The optional fields only when present.
    nlohmann::json toJSON() const;
    // A missing identity reads as empty and a missing forThisRunOnly as false, as they
    // are written. Throws DecodeError for anything else missing or of the wrong type.
    static Correction fromJSON(const nlohmann::json& value);
};

} // namespace vanto
