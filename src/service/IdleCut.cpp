#include "service/IdleCut.h"

#include <algorithm>

namespace vanto {

IdleCut::Partial::Partial(int removed, std::exception_ptr underlying, const std::string& reason)
    : Error("stopped cutting idle pauses after " + std::to_string(removed) + ": " + reason), removed_(removed),
      underlying_(std::move(underlying)) {}

IdleCut::IdleCut(const APIClient& api, std::string video, std::string recording)
    : api_(api), video_(std::move(video)), recording_(std::move(recording)) {}

std::vector<IdleCut::Span> IdleCut::stretches(const std::vector<std::vector<std::int64_t>>& pauses,
                                              std::int64_t length) {
    std::vector<Span> result;
    for (const auto& pause : pauses) {
        if (pause.size() != 2) continue;
        const auto from = std::max<std::int64_t>(pause[0] + margin, 0);
        const auto to = std::min<std::int64_t>(pause[1] - margin, length);
        if (to - from < shortest) continue;
        result.push_back({from, to});
    }
    std::stable_sort(result.begin(), result.end(), [](const Span& a, const Span& b) { return a.lower > b.lower; });
    return result;
}

std::vector<IdleCut::Span> IdleCut::kept(std::vector<Span> removed, std::int64_t length) {
    std::stable_sort(removed.begin(), removed.end(), [](const Span& a, const Span& b) { return a.lower < b.lower; });
    std::vector<Span> result;
    std::int64_t cursor = 0;
    for (const auto& stretch : removed) {
        if (stretch.lower > cursor) result.push_back({cursor, stretch.lower});
        cursor = std::max(cursor, stretch.upper);
    }
    if (cursor < length) result.push_back({cursor, length});
    return result;
}

bool IdleCut::remove(const Span& stretch, std::stop_token stop) const {
    const auto clips = api_.clips(video_, stop);
    auto holder = std::find_if(clips.begin(), clips.end(), [&](const APIClient::ClipRef& clip) {
        return clip.sourceVideoID.value_or(video_) == recording_ && clip.inMs < clip.outMs &&
               clip.inMs <= stretch.lower && stretch.upper <= clip.outMs;
    });
    if (holder == clips.end()) return false;

    auto clip = *holder;
    if (clip.outMs - stretch.upper > snapping) clip = api_.split(video_, clip.id, stretch.upper, stop).first;
    if (stretch.lower - clip.inMs > snapping) {
        auto pieces = api_.split(video_, clip.id, stretch.lower, stop);
        api_.deleteClip(video_, pieces.second.id, stop);
    } else {
        api_.deleteClip(video_, clip.id, stop);
    }
    return true;
}

int IdleCut::apply(const std::vector<Span>& stretches, std::stop_token stop) const {
    int removed = 0;
    for (const auto& stretch : stretches) {
        try {
            if (remove(stretch, stop)) ++removed;
        } catch (const std::exception& error) {
            throw Partial(removed, std::current_exception(), error.what());
        }
    }
    return removed;
}

} // namespace vanto
