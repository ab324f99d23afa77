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

    auto each = [&](const char* attribute, auto&& take) {
        const auto values = copyAttributeValues(refs, attribute);
        for (std::size_t i = 0; i < records.size(); ++i) take(records[i], values[i]);
    };
    auto text = [](const AXValue& value) { return as<std::string>(value).value_or(""); };
    each(ax::role, [&](AXNodeRecord& record, const AXValue& value) { record.role = text(value); });
    each(ax::subrole, [&](AXNodeRecord& record, const AXValue& value) { record.subrole = text(value); });
    each(ax::title, [&](AXNodeRecord& record, const AXValue& value) { record.title = text(value); });
    each(ax::description, [&](AXNodeRecord& record, const AXValue& value) { record.description = text(value); });
    each(ax::value, [&](AXNodeRecord& record, const AXValue& value) { record.value = value; });
    each(ax::help, [&](AXNodeRecord& record, const AXValue& value) { record.help = text(value); });
    each(ax::placeholderValue, [&](AXNodeRecord& record, const AXValue& value) { record.placeholder = text(value); });
    each(ax::identifier, [&](AXNodeRecord& record, const AXValue& value) { record.identifier = text(value); });
    {
        const auto positions = copyAttributeValues(refs, ax::position);
        const auto sizes = copyAttributeValues(refs, ax::size);
        for (std::size_t i = 0; i < records.size(); ++i) {
            auto origin = as<Point>(positions[i]);
            auto extent = as<AXSize>(sizes[i]);
            if (origin && extent) records[i].frame = Rect{origin->x, origin->y, extent->width, extent->height};
        }
    }
    each(ax::enabled, [&](AXNodeRecord& record, const AXValue& value) { record.enabled = as<bool>(value); });
    each(ax::focused,
         [&](AXNodeRecord& record, const AXValue& value) { record.focused = as<bool>(value).value_or(false); });
    each(ax::selected,
         [&](AXNodeRecord& record, const AXValue& value) { record.selected = as<bool>(value).value_or(false); });
    each(ax::url, [&](AXNodeRecord& record, const AXValue& value) {
        if (auto url = as<AXURL>(value)) record.url = url->absolute;
    });
    each(ax::servesAsTitleForUIElements,
         [&](AXNodeRecord& record, const AXValue& value) { record.titles = related(value, records); });
    each(ax::titleUIElements,
         [&](AXNodeRecord& record, const AXValue& value) { record.labelledBy = related(value, records); });
    return records;
}

} // namespace vanto
