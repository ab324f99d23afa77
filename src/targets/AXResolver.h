#pragma once

#include "platform/Accessibility.h"
#include "platform/Clock.h"
#include "platform/Processes.h"
#include "targets/AXAccess.h"
#include "targets/AXElement.h"
#include "targets/AXReader.h"
#include "targets/AXWindows.h"
#include "targets/FindParams.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace vanto {

// What the rest of the program asks of other applications' interfaces: find the
// elements that answer to a step's words, tell what is at a point, read the tree and
// move windows. The reading, the windows and the ranking are its parts.
class AXResolver {
public:
    using FindParams = vanto::FindParams;
    using Snapshot = AXReader::Snapshot;

    AXResolver(Accessibility& accessibility, Processes& processes, Clock& clock);

    // A snapshot cut to its window and ranked against the request's words.
    std::vector<AXElement> find(const FindParams& params);
    std::optional<AXElement> elementAt(Point at, std::optional<std::int32_t> pid) { return reader_.elementAt(at, pid); }

    AXAccess& access() { return access_; }
    AXReader& reader() { return reader_; }
    AXWindows& windows() { return windows_; }

private:
    AXAccess access_;
    AXReader reader_;
    AXWindows windows_;
};

} // namespace vanto
