#pragma once

#include "sheets/DemoSheet.h"
#include "sheets/TakeOutcome.h"

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vanto {

// Where the window is in an open sheet: the selected scene, the takes recorded so far and
// the video they went into, so that each take is placed where the last one ended.
struct DemoProgress {
    // Where a take goes: into this video, at this many seconds.
    struct Place {
        std::string videoID;
        double atSeconds = 0;
        bool operator==(const Place&) const = default;
    };

    DemoSheet sheet;
    std::size_t selected = 0;
    std::optional<std::string> videoID;
    double endOfLastTake = 0; // seconds into the video
    std::set<std::size_t> recorded;

    // Selects the first take (the first scene when there is none).
    explicit DemoProgress(DemoSheet sheet);

    // The first take not yet recorded after position, then from the start; never position.
    std::optional<std::size_t> nextUnrecorded(std::size_t after) const;
    // The default place of the take at position: where the last take ended.
    std::optional<Place> placement(std::size_t position) const;
    // Takes in a take's outcome; nothing changes for a failed run or a take with no video.
    void advance(std::optional<std::size_t> position, const TakeOutcome& outcome);
    // What the person still does in the editor: each hold's frame, then the narration.
    std::vector<std::string> remainingInTheEditor() const;
};

} // namespace vanto
