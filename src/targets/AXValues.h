#pragma once

#include "platform/Accessibility.h"
#include "platform/Geometry.h"

#include <optional>
#include <vector>

// What an attribute read means to the core: the type it expects, or nothing.
namespace vanto::axvalue {

template <class T> std::optional<T> as(const AXValue& value) {
    if (const T* held = std::get_if<T>(&value)) return *held;
    return std::nullopt;
}

inline AXRef element(const AXValue& value) {
    if (const AXRef* held = std::get_if<AXRef>(&value)) return *held;
    return nullptr;
}

// The elements of a list, without the null ones.
inline std::vector<AXRef> elements(const AXValue& value) {
    std::vector<AXRef> found;
    if (const auto* held = std::get_if<std::vector<AXRef>>(&value))
        for (const auto& element : *held)
            if (element) found.push_back(element);
    return found;
}

inline std::optional<Rect> frame(const AXValue& position, const AXValue& size) {
    auto origin = as<Point>(position);
    auto extent = as<AXSize>(size);
    if (!origin || !extent) return std::nullopt;
    return Rect{origin->x, origin->y, extent->width, extent->height};
}

} // namespace vanto::axvalue
