// The batched walk must give exactly the list that reading one element at a time by
// the same rules gives, bounds included, whatever the tree.

#include "targets/AXReader.h"

#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <random>

using namespace vanto;
using fake::FakeAccessibility;
using fake::FakeAXNodePtr;

namespace {

class AXWalkTest : public testing::Test {
protected:
    AXWalkTest() { app = ax.addApplication(77, "App"); }

    std::vector<AXElement> oneByOne(const FakeAXNodePtr& root) {
        std::vector<AXElement> list;
        int visited = 0;
        readOneByOne(FakeAccessibility::ref(root), 0, list, visited, false);
        return list;
    }

    // The rules as the reader states them for one element (describe, titled), applied
    // one read at a time in document order within the same bounds.
    void readOneByOne(const AXRef& node, int depth, std::vector<AXElement>& into, int& visited, bool inPage) {
        if (depth > AXReader::maxDepth || visited > AXReader::maxVisited) return;
        ++visited;
        const bool here = inPage || reader.string(node, ax::role) == "AXWebArea";
        if (auto element = reader.describe(node)) {
            if (auto field = reader.titled(node, element->text)) element = field;
            element->inPage = here;
            into.push_back(std::move(*element));
        }
        for (const auto& child : reader.children(node)) readOneByOne(child, depth + 1, into, visited, here);
    }

    fake::FakePlatform desktop;
    FakeAccessibility ax;
    AXAccess access{ax, desktop.processes};
    AXReader reader{ax, access, desktop.clock};
    FakeAXNodePtr app;
};

const char* const roles[] = {"AXButton", "AXStaticText", "AXGroup", "AXWebArea", "AXTextField",
                             "AXLink",   "AXCheckBox",   "AXImage", "AXHeading", ""};

void grow(std::mt19937& random, const FakeAXNodePtr& node, int depth, int& budget, std::vector<FakeAXNodePtr>& all) {
    std::uniform_int_distribution<int> childCount(depth == 0 ? 3 : 0, depth < 3 ? 6 : 3);
    std::uniform_int_distribution<int> roleIndex(0, 9), coin(0, 3), coordinate(-50, 900), extent(0, 120);
    const int count = childCount(random);
    for (int i = 0; i < count && budget > 0; ++i, --budget) {
        std::optional<std::string> title;
        if (coin(random) != 0) title = "item " + std::to_string(budget % 37);
        std::optional<Rect> frame;
        if (coin(random) != 0)
            frame = Rect{double(coordinate(random)), double(coordinate(random)), double(extent(random)),
                         double(extent(random))};
        auto child = node->add(roles[roleIndex(random)], title, frame);
        if (coin(random) == 0) child->set(ax::help, std::string("help " + std::to_string(i)));
        if (coin(random) == 0) child->set(ax::identifier, std::string("id" + std::to_string(budget)));
        if (coin(random) == 0) child->set(ax::enabled, false);
        if (coin(random) == 0 && !all.empty())
            child->titles.push_back(all[std::uniform_int_distribution<std::size_t>(0, all.size() - 1)(random)]);
        all.push_back(child);
        grow(random, child, depth + 1, budget, all);
    }
}

} // namespace

TEST_F(AXWalkTest, BatchedWalkMatchesTheOneByOneWalkOnRandomTrees) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
        auto root = ax.addWindow(app, "Window " + std::to_string(seed), Rect{0, 0, 1000, 800});
        std::mt19937 random(seed);
        int budget = 400;
        std::vector<FakeAXNodePtr> all;
        grow(random, root, 0, budget, all);
        const auto expected = oneByOne(root);
        EXPECT_EQ(reader.walk(FakeAccessibility::ref(root)), expected) << "seed " << seed;
        // Reading only what shows lists the same: nothing without a frame is listed.
        EXPECT_EQ(reader.walk(FakeAccessibility::ref(root), true), expected) << "seed " << seed;
        EXPECT_GT(expected.size(), 1u);
    }
}

TEST_F(AXWalkTest, DepthFortyIsReadAndFortyOneIsNot) {
    auto root = ax.addWindow(app, "Deep", Rect{0, 0, 100, 100});
    auto node = root;
    for (int depth = 1; depth <= 45; ++depth)
        node = node->add("AXButton", "level " + std::to_string(depth), Rect{0, 0, 10, 10});
    const auto listed = reader.walk(FakeAccessibility::ref(root));
    ASSERT_EQ(listed.size(), 41u);
    EXPECT_EQ(listed.back().text, "level 40");
    EXPECT_EQ(oneByOne(root), listed);
}

TEST_F(AXWalkTest, WalkStopsAfterSixThousandAndOneVisits) {
    auto root = ax.addWindow(app, "Wide", Rect{0, 0, 100, 100});
    // A deep first branch and a wide second one, so that document order and level order differ.
    auto branch = root;
    for (int i = 0; i < 30; ++i) branch = branch->add("AXGroup", "deep " + std::to_string(i), Rect{0, 0, 10, 10});
    auto wide = root->add("AXGroup");
    for (int i = 0; i < 7000; ++i) wide->add("AXButton", "wide " + std::to_string(i), Rect{0, 0, 10, 10});
    const auto listed = reader.walk(FakeAccessibility::ref(root));
    // Root, 30 deep, the wide group (unnamed) and 5969 of its buttons make 6001 visits.
    ASSERT_EQ(listed.size(), 1u + 30u + 5969u);
    EXPECT_EQ(listed.back().text, "wide 5968");
    EXPECT_EQ(oneByOne(root), listed);
}

TEST_F(AXWalkTest, EachAttributeIsReadInOneBatchPerLevel) {
    auto root = ax.addWindow(app, "Window", Rect{0, 0, 500, 500});
    for (int i = 0; i < 50; ++i) root->add("AXGroup")->add("AXButton", "b" + std::to_string(i), Rect{0, 0, 10, 10});
    reader.walk(FakeAccessibility::ref(root));
    // Four levels of children, then a fixed number of attribute batches: not one per element.
    EXPECT_LT(ax.batches, 30);
}
