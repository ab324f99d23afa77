// The seam's default bulk read must report what the attribute reads say, node by node,
// in document order and within the bounds.

#include "platform/fake/FakeAccessibility.h"

#include <gtest/gtest.h>

#include <random>

using namespace vanto;
using fake::FakeAccessibility;
using fake::FakeAXNodePtr;

namespace {

template <class T> std::optional<T> as(const AXValue& value) {
    if (const T* held = std::get_if<T>(&value)) return *held;
    return std::nullopt;
}

std::string text(FakeAccessibility& ax, const AXRef& element, const char* attribute) {
    return as<std::string>(ax.copyAttributeValue(element, attribute)).value_or("");
}

// Document order through the single reads, cut by the same bounds.
void listed(FakeAccessibility& ax, const AXRef& element, int depth, AXTreeBounds bounds, std::vector<AXRef>& into) {
    if (depth > bounds.maxDepth || into.size() >= bounds.maxNodes) return;
    into.push_back(element);
    const auto kids = as<std::vector<AXRef>>(ax.copyAttributeValue(element, ax::children));
    for (const auto& child : kids.value_or(std::vector<AXRef>{})) listed(ax, child, depth + 1, bounds, into);
}

void grow(std::mt19937& random, const FakeAXNodePtr& node, int depth, int& budget, std::vector<FakeAXNodePtr>& all) {
    std::uniform_int_distribution<int> count(depth == 0 ? 3 : 0, depth < 3 ? 5 : 2), coin(0, 2), at(-40, 900);
    const int children = count(random);
    for (int i = 0; i < children && budget > 0; ++i, --budget) {
        const auto n = std::to_string(budget);
        auto child = node->add(coin(random) ? "AXButton" : "AXTextField", coin(random) ? "title " + n : "");
        if (coin(random)) child->frame = Rect{double(at(random)), double(at(random)), 30, 10 + double(budget % 7)};
        if (coin(random) == 0) child->set(ax::subrole, std::string("AXSub" + n));
        if (coin(random) == 0) child->set(ax::description, std::string("description " + n));
        if (coin(random) == 0) child->set(ax::value, coin(random) ? AXValue(std::string("value " + n)) : AXValue(0.5));
        if (coin(random) == 0) child->set(ax::help, std::string("help " + n));
        if (coin(random) == 0) child->set(ax::placeholderValue, std::string("placeholder " + n));
        if (coin(random) == 0) child->set(ax::identifier, std::string("id" + n));
        if (coin(random) == 0) child->set(ax::enabled, false);
        if (coin(random) == 0) child->set(ax::focused, true);
        if (coin(random) == 0) child->set(ax::selected, true);
        if (coin(random) == 0) child->set(ax::url, AXURL{"https://example.com/" + n});
        if (coin(random) == 0 && !all.empty())
            child->titles.push_back(all[std::uniform_int_distribution<std::size_t>(0, all.size() - 1)(random)]);
        if (coin(random) == 0 && !all.empty())
            child->labels.push_back(all[std::uniform_int_distribution<std::size_t>(0, all.size() - 1)(random)]);
        all.push_back(child);
        grow(random, child, depth + 1, budget, all);
    }
}

void expectRelated(FakeAccessibility& ax, const std::vector<AXNodeRecord>& records, const AXRef& element,
                   const char* attribute, const std::vector<AXRelated>& reported) {
    const auto read = as<std::vector<AXRef>>(ax.copyAttributeValue(element, attribute)).value_or(std::vector<AXRef>{});
    ASSERT_EQ(reported.size(), read.size()) << attribute;
    for (std::size_t k = 0; k < read.size(); ++k) {
        EXPECT_TRUE(reported[k].element->isSame(*read[k])) << attribute;
        std::optional<std::size_t> index;
        for (std::size_t i = 0; i < records.size(); ++i)
            if (records[i].element->isSame(*read[k])) index = i;
        EXPECT_EQ(reported[k].index, index) << attribute;
    }
}

void expectSameRelated(const std::vector<AXRelated>& a, const std::vector<AXRelated>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t k = 0; k < a.size(); ++k) {
        EXPECT_TRUE(a[k].element->isSame(*b[k].element));
        EXPECT_EQ(a[k].index, b[k].index);
    }
}

} // namespace

TEST(AXSnapshotTest, OnScreenOnlyKeepsWhatShowsWholeAndReadsNoMoreOfTheRest) {
    FakeAccessibility ax;
    auto app = ax.addApplication(5);
    for (unsigned seed = 1; seed <= 10; ++seed) {
        auto root = ax.addWindow(app, "Window " + std::to_string(seed), Rect{0, 0, 1000, 800});
        std::mt19937 random(seed);
        int budget = 300;
        std::vector<FakeAXNodePtr> all{root};
        grow(random, root, 0, budget, all);
        const AXTreeBounds bounds{6, 250};
        const auto shown = ax.snapshot(FakeAccessibility::ref(root), {bounds.maxDepth, bounds.maxNodes, true});
        const auto whole = ax.snapshot(FakeAccessibility::ref(root), bounds);
        ASSERT_EQ(shown.size(), whole.size()) << "seed " << seed;
        std::size_t nowhere = 0;
        for (std::size_t i = 0; i < shown.size(); ++i) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", record " + std::to_string(i));
            const auto& a = shown[i];
            const auto& b = whole[i];
            ASSERT_TRUE(a.element->isSame(*b.element));
            EXPECT_EQ(a.parent, b.parent);
            EXPECT_EQ(a.role, b.role);
            EXPECT_EQ(a.subrole, b.subrole);
            EXPECT_EQ(a.title, b.title);
            EXPECT_EQ(a.description, b.description);
            EXPECT_EQ(a.frame, b.frame);
            if (b.frame) {
                EXPECT_EQ(a.value, b.value);
                EXPECT_EQ(a.help, b.help);
                EXPECT_EQ(a.placeholder, b.placeholder);
                EXPECT_EQ(a.identifier, b.identifier);
                EXPECT_EQ(a.enabled, b.enabled);
                EXPECT_EQ(a.focused, b.focused);
                EXPECT_EQ(a.selected, b.selected);
                EXPECT_EQ(a.url, b.url);
                expectSameRelated(a.titles, b.titles);
                expectSameRelated(a.labelledBy, b.labelledBy);
                continue;
            }
            // Shows nowhere: the rest is empty, and was read only by the whole read.
            ++nowhere;
            EXPECT_EQ(a.value, AXValue());
            EXPECT_EQ(a.help + a.placeholder + a.identifier, "");
            EXPECT_EQ(a.enabled, std::nullopt);
            EXPECT_FALSE(a.focused || a.selected);
            EXPECT_EQ(a.url, std::nullopt);
            EXPECT_TRUE(a.titles.empty() && a.labelledBy.empty());
            const auto node = FakeAccessibility::node(a.element);
            for (const char* attribute :
                 {ax::value, ax::help, ax::identifier, ax::enabled, ax::url, ax::titleUIElements})
                EXPECT_EQ(ax.readsOf(node, attribute), 1) << attribute;
        }
        EXPECT_GT(nowhere, 0u);
    }
}

TEST(AXSnapshotTest, EveryRecordHoldsWhatTheAttributeReadsSay) {
    FakeAccessibility ax;
    auto app = ax.addApplication(5);
    auto outside = app->add("AXStaticText", "Elsewhere", Rect{0, 0, 50, 10});
    for (unsigned seed = 1; seed <= 20; ++seed) {
        auto root = ax.addWindow(app, "Window " + std::to_string(seed), Rect{0, 0, 1000, 800});
        std::mt19937 random(seed);
        int budget = 300;
        std::vector<FakeAXNodePtr> all{outside};
        grow(random, root, 0, budget, all);
        const AXTreeBounds bounds{4, 200};
        const auto records = ax.snapshot(FakeAccessibility::ref(root), bounds);

        std::vector<AXRef> expected;
        listed(ax, FakeAccessibility::ref(root), 0, bounds, expected);
        ASSERT_EQ(records.size(), expected.size()) << "seed " << seed;
        EXPECT_FALSE(records.front().parent);
        for (std::size_t i = 0; i < records.size(); ++i) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", record " + std::to_string(i));
            const auto& record = records[i];
            const AXRef& element = expected[i];
            ASSERT_TRUE(record.element->isSame(*element));
            if (i > 0) {
                ASSERT_TRUE(record.parent);
                ASSERT_LT(*record.parent, i);
                const auto up = as<AXRef>(ax.copyAttributeValue(element, ax::parent));
                ASSERT_TRUE(up && *up);
                EXPECT_TRUE(records[*record.parent].element->isSame(**up));
            }
            EXPECT_EQ(record.role, text(ax, element, ax::role));
            EXPECT_EQ(record.subrole, text(ax, element, ax::subrole));
            EXPECT_EQ(record.title, text(ax, element, ax::title));
            EXPECT_EQ(record.description, text(ax, element, ax::description));
            EXPECT_EQ(record.value, ax.copyAttributeValue(element, ax::value));
            EXPECT_EQ(record.help, text(ax, element, ax::help));
            EXPECT_EQ(record.placeholder, text(ax, element, ax::placeholderValue));
            EXPECT_EQ(record.identifier, text(ax, element, ax::identifier));
            const auto position = as<Point>(ax.copyAttributeValue(element, ax::position));
            const auto size = as<AXSize>(ax.copyAttributeValue(element, ax::size));
            if (position && size)
                EXPECT_EQ(record.frame, (Rect{position->x, position->y, size->width, size->height}));
            else
                EXPECT_FALSE(record.frame);
            EXPECT_EQ(record.enabled, as<bool>(ax.copyAttributeValue(element, ax::enabled)));
            EXPECT_EQ(record.focused, as<bool>(ax.copyAttributeValue(element, ax::focused)).value_or(false));
            EXPECT_EQ(record.selected, as<bool>(ax.copyAttributeValue(element, ax::selected)).value_or(false));
            const auto url = as<AXURL>(ax.copyAttributeValue(element, ax::url));
            EXPECT_EQ(record.url, url ? std::optional(url->absolute) : std::nullopt);
            expectRelated(ax, records, element, ax::servesAsTitleForUIElements, record.titles);
            expectRelated(ax, records, element, ax::titleUIElements, record.labelledBy);
        }
    }
}

TEST(AXSnapshotTest, BoundsCutDocumentOrderNotLevelOrder) {
    FakeAccessibility ax;
    auto app = ax.addApplication(5);
    auto root = ax.addWindow(app, "Window", Rect{0, 0, 100, 100});
    // A deep first branch and a wide second one: a level-by-level cut would keep the
    // wide buttons and lose the deep end.
    auto branch = root;
    for (int i = 0; i < 10; ++i) branch = branch->add("AXGroup", "deep " + std::to_string(i));
    auto wide = root->add("AXGroup", "wide");
    for (int i = 0; i < 20; ++i) wide->add("AXButton", "button " + std::to_string(i));

    auto titles = [](const std::vector<AXNodeRecord>& records) {
        std::vector<std::string> all;
        for (const auto& record : records) all.push_back(record.title);
        return all;
    };
    const auto cut = ax.snapshot(FakeAccessibility::ref(root), {40, 14});
    ASSERT_EQ(cut.size(), 14u);
    EXPECT_EQ(cut[10].title, "deep 9");
    EXPECT_EQ(cut[11].title, "wide");
    EXPECT_EQ(cut[13].title, "button 1");
    EXPECT_EQ(cut[13].parent, 11u);

    const auto shallow = ax.snapshot(FakeAccessibility::ref(root), {2, 100});
    EXPECT_EQ(titles(shallow),
              (std::vector<std::string>{"Window",    "deep 0",    "deep 1",    "wide",      "button 0",  "button 1",
                                        "button 2",  "button 3",  "button 4",  "button 5",  "button 6",  "button 7",
                                        "button 8",  "button 9",  "button 10", "button 11", "button 12", "button 13",
                                        "button 14", "button 15", "button 16", "button 17", "button 18", "button 19"}));
    EXPECT_TRUE(ax.snapshot(nullptr, {40, 100}).empty());
}
