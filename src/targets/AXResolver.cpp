#include "targets/AXResolver.h"

#include "targets/AXRanking.h"

namespace vanto {

AXResolver::AXResolver(Accessibility& accessibility, Processes& processes, Clock& clock)
    : access_(accessibility, processes), reader_(accessibility, access_, clock), windows_(accessibility, access_) {}

std::vector<AXElement> AXResolver::find(const FindParams& params) {
    const auto taken = reader_.snapshot(params);
    return AXRanking::rank(AXRanking::clip(taken.elements, taken.clip), params);
}

} // namespace vanto
