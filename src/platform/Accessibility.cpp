#include "platform/Accessibility.h"

#include "platform/AXTreeOrder.h"

namespace vanto {
namespace {

template <class T> std::optional<T> as(const AXValue& value) {
    if (const T* held = std::get_if<T>(&value)) return *held;
    return std::nullopt;
}

std::vector<AXRef> asElements(const AXValue& value) {
    std::vector<AXRef> elements;
    if (const auto* held = std::get_if<std::vector<AXRef>>(&value))
        for (const auto& element : *held)
            if (element) elements.push_back(element);
    return elements;
}

std::vector<AXRelated> related(const AXValue& value, const std::vector<AXNodeRecord>& records) {
    std::vector<AXRelated> found;
    for (auto& element : asElements(value)) {
        AXRelated entry{element, std::nullopt};
        for (std::size_t i = 0; i < records.size() && !entry.index; ++i)
            if (records[i].element->isSame(*element)) entry.index = i;
        found.push_back(std::move(entry));
    }
    return found;
}

} // namespace

std::vector<std::size_t> detail::preorder(const std::vector<std::vector<std::size_t>>& children) {
    std::vector<std::size_t> order;
    order.reserve(children.size());
    std::vector<std::size_t> stack{0};
    while (!stack.empty()) {
        const std::size_t index = stack.back();
        stack.pop_back();
        order.push_back(index);
        const auto& kids = children[index];
        for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back(*it);
    }
    return order;
}

std::vector<AXNodeRecord> Accessibility::snapshot(const AXRef& root, AXTreeBounds bounds) {
    if (!root || bounds.maxNodes == 0) return {};

    const auto listed = boundedDocumentOrder(root, bounds, [&](const std::vector<AXRef>& level) {
        std::vector<std::vector<AXRef>> lists;
        for (const auto& value : copyAttributeValues(level, ax::children)) lists.push_back(asElements(value));
        return lists;
    });
    std::vector<AXNodeRecord> records(listed.size());
    std::vector<AXRef> refs;
    refs.reserve(listed.size());
    for (std::size_t i = 0; i < listed.size(); ++i) {
        records[i].element = listed[i].ref;
        records[i].parent = listed[i].parent;
        refs.push_back(listed[i].ref);
    }

    // Each attribute of the records at these indices, in one batch.
    auto each = [&](const std::vector<std::size_t>& which, const char* attribute, auto&& take) {
        std::vector<AXRef> asked;
        asked.reserve(which.size());
        for (std::size_t i : which) asked.push_back(refs[i]);
        const auto values = copyAttributeValues(asked, attribute);
        for (std::size_t k = 0; k < which.size(); ++k) take(records[which[k]], values[k]);
    };
    auto text = [](const AXValue& value) { return as<std::string>(value).value_or(""); };
    std::vector<std::size_t> all(records.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    each(all, ax::role, [&](AXNodeRecord& record, const AXValue& value) { record.role = text(value); });
    each(all, ax::subrole, [&](AXNodeRecord& record, const AXValue& value) { record.subrole = text(value); });
    each(all, ax::title, [&](AXNodeRecord& record, const AXValue& value) { record.title = text(value); });
    each(all, ax::description, [&](AXNodeRecord& record, const AXValue& value) { record.description = text(value); });
    {
        const auto positions = copyAttributeValues(refs, ax::position);
        const auto sizes = copyAttributeValues(refs, ax::size);
        for (std::size_t i = 0; i < records.size(); ++i) {
            auto origin = as<Point>(positions[i]);
            auto extent = as<AXSize>(sizes[i]);
            if (origin && extent) records[i].frame = Rect{origin->x, origin->y, extent->width, extent->height};
        }
    }
    // Asked only for what shows: an element without a frame shows nowhere, and the rest of
    // its record is not worth a read.
    std::vector<std::size_t> rest;
    for (std::size_t i : all)
        if (!bounds.onScreenOnly || records[i].frame) rest.push_back(i);
    each(rest, ax::value, [&](AXNodeRecord& record, const AXValue& value) { record.value = value; });
    each(rest, ax::help, [&](AXNodeRecord& record, const AXValue& value) { record.help = text(value); });
    each(rest, ax::placeholderValue,
         [&](AXNodeRecord& record, const AXValue& value) { record.placeholder = text(value); });
    each(rest, ax::identifier, [&](AXNodeRecord& record, const AXValue& value) { record.identifier = text(value); });
    each(rest, ax::enabled, [&](AXNodeRecord& record, const AXValue& value) { record.enabled = as<bool>(value); });
    each(rest, ax::focused,
         [&](AXNodeRecord& record, const AXValue& value) { record.focused = as<bool>(value).value_or(false); });
    each(rest, ax::selected,
         [&](AXNodeRecord& record, const AXValue& value) { record.selected = as<bool>(value).value_or(false); });
    each(rest, ax::url, [&](AXNodeRecord& record, const AXValue& value) {
        if (auto url = as<AXURL>(value)) record.url = url->absolute;
    });
    each(rest, ax::servesAsTitleForUIElements,
         [&](AXNodeRecord& record, const AXValue& value) { record.titles = related(value, records); });
    each(rest, ax::titleUIElements,
         [&](AXNodeRecord& record, const AXValue& value) { record.labelledBy = related(value, records); });
    return records;
}

} // namespace vanto
