#pragma once

#include "base/Error.h"
#include "service/APIClient.h"

#include <cstdint>
#include <exception>
#include <stop_token>
#include <string>
#include <vector>

namespace vanto {

// Cuts the idle pauses out of an uploaded take on the service's side, through the
// video's clips. Times are milliseconds of the take.
class IdleCut {
public:
    // lower ... upper, both included.
    struct Span {
        std::int64_t lower = 0;
        std::int64_t upper = 0;
        bool operator==(const Span&) const = default;
    };

    // Stopped part-way: the stretches cut before the failure stay cut.
    class Partial : public Error {
    public:
        Partial(int removed, std::exception_ptr underlying, const std::string& reason);
        int removed() const { return removed_; }
        const std::exception_ptr& underlying() const { return underlying_; }

    private:
        int removed_;
        std::exception_ptr underlying_;
    };

    static constexpr std::int64_t margin = 300;   // of each pause kept on either side
    static constexpr std::int64_t shortest = 300; // a shorter stretch is not worth a cut
    static constexpr std::int64_t snapping = 200; // a cut this close to a clip's edge takes the edge

    // video holds the take; recording is the uploaded take its clips come from.
    IdleCut(const APIClient& api, std::string video, std::string recording);

    // The stretches worth cutting from pauses given as [start, end] pairs, latest
    // first so that each cut leaves the positions of those still to come alone.
    static std::vector<Span> stretches(const std::vector<std::vector<std::int64_t>>& pauses, std::int64_t length);

    // What remains of 0 ... length once the stretches are gone, earliest first.
    static std::vector<Span> kept(std::vector<Span> removed, std::int64_t length);

    // Cuts one stretch out of the clip of the recording that holds it; false when no
    // clip holds it.
    bool remove(const Span& stretch, std::stop_token stop = {}) const;

    // Cuts the stretches in the order given; how many were cut. Throws Partial.
    int apply(const std::vector<Span>& stretches, std::stop_token stop = {}) const;

private:
    const APIClient& api_;
    std::string video_;
    std::string recording_;
};

} // namespace vanto
