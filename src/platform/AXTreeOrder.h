#pragma once

#include "platform/Accessibility.h"

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

namespace vanto {

template <class Ref> struct AXListedNode {
    Ref ref;
    std::optional<std::size_t> parent; // its position in the list
};

namespace detail {
// Pre-order positions of a tree given as child lists, node 0 the root.
std::vector<std::size_t> preorder(const std::vector<std::vector<std::size_t>>& children);
} // namespace detail

// The nodes of a subtree that a bulk read lists, in document order and within the bounds.
// The tree is read level by level, asking childrenOf(a level's nodes) for their child
// lists in one go, and children are asked only of nodes that may still be listed: a
// node's place in document order only grows as deeper levels arrive, so one already
// past the bound never comes back, and a huge tree costs no more than the bounds allow.
template <class Ref, class ChildrenOf>
std::vector<AXListedNode<Ref>> boundedDocumentOrder(Ref root, AXTreeBounds bounds, ChildrenOf childrenOf) {
    if (bounds.maxNodes == 0) return {};
    std::vector<Ref> refs{std::move(root)};
    std::vector<int> depth{0};
    std::vector<std::vector<std::size_t>> children(1);
    std::vector<std::size_t> parentOf(1);
    std::vector<std::size_t> level{0};
    while (!level.empty()) {
        std::vector<std::size_t> position(refs.size());
        const auto order = detail::preorder(children);
        for (std::size_t i = 0; i < order.size(); ++i) position[order[i]] = i;
        std::vector<std::size_t> expand;
        std::vector<Ref> asked;
        for (std::size_t index : level)
            if (depth[index] < bounds.maxDepth && position[index] < bounds.maxNodes) {
                expand.push_back(index);
                asked.push_back(refs[index]);
            }
        std::vector<std::size_t> next;
        if (!asked.empty()) {
            auto lists = childrenOf(asked);
            for (std::size_t i = 0; i < expand.size() && i < lists.size(); ++i)
                for (auto& child : lists[i]) {
                    refs.push_back(std::move(child));
                    depth.push_back(depth[expand[i]] + 1);
                    children.emplace_back();
                    parentOf.push_back(expand[i]);
                    children[expand[i]].push_back(refs.size() - 1);
                    next.push_back(refs.size() - 1);
                }
        }
        level = std::move(next);
    }
    auto order = detail::preorder(children);
    if (order.size() > bounds.maxNodes) order.resize(bounds.maxNodes);
    std::vector<std::size_t> listedAt(refs.size());
    std::vector<AXListedNode<Ref>> listed;
    listed.reserve(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        listedAt[order[i]] = i;
        // Document order lists a parent before its children, so its place is known here.
        std::optional<std::size_t> parent;
        if (i > 0) parent = listedAt[parentOf[order[i]]];
        listed.push_back({std::move(refs[order[i]]), parent});
    }
    return listed;
}

} // namespace vanto
