#include "targets/AXRanking.h"
#include "targets/AXRoles.h"

#include <gtest/gtest.h>

using namespace vanto;
using Params = FindParams;

namespace {

AXElement element(std::string role, std::string text, std::int64_t x, std::int64_t y, std::int64_t width,
                  std::int64_t height, bool enabled = true, std::string alt = "") {
    auto made = AXElement::withFrame(std::move(role), std::move(text), static_cast<double>(x), static_cast<double>(y),
                                     static_cast<double>(width), static_cast<double>(height));
    made->enabled = enabled;
    made->alt = std::move(alt);
    return *made;
}

std::vector<std::string> texts(const std::vector<AXElement>& elements) {
    std::vector<std::string> result;
    for (const auto& e : elements) result.push_back(e.text);
    return result;
}

Params query(std::optional<std::string> text, std::int64_t limit = 20) {
    Params params;
    params.text = std::move(text);
    params.limit = limit;
    return params;
}

} // namespace

TEST(AXRanking, NormaliseFoldsCaseDiacriticsAndWidthAndSplitsOnSymbols) {
    EXPECT_EQ(AXRanking::normalise("Ça"), "ca");
    EXPECT_EQ(AXRanking::normalise("ca"), "ca");
    EXPECT_EQ(AXRanking::normalise("ＯＫ"), "ok");
    EXPECT_EQ(AXRanking::normalise("Save…"), "save");
    EXPECT_EQ(AXRanking::normalise("Sign-in page"), "sign in page");
    EXPECT_EQ(AXRanking::normalise("  Don't   SAVE! "), "don t save");
    EXPECT_EQ(AXRanking::normalise("Größe 42"), "grosse 42");
    // Letters of any script make words; the voicing mark is a diacritic and folds away.
    EXPECT_EQ(AXRanking::normalise("日本語のボタン"), "日本語のホタン");
    // No words at all: the symbol itself, trimmed.
    EXPECT_EQ(AXRanking::normalise(" + "), "+");
    EXPECT_EQ(AXRanking::normalise("\n→\t"), "→");
    EXPECT_EQ(AXRanking::normalise(""), "");
}

TEST(AXRanking, WordsOfSplitsOnSingleSpaces) {
    EXPECT_EQ(AXRanking::wordsOf("save  file save"), (std::set<std::string>{"save", "file"}));
    EXPECT_TRUE(AXRanking::wordsOf("").empty());
}

TEST(AXRanking, SaveScoresAndOrder) {
    const std::vector<AXElement> elements{
        element("AXStaticText", "Don't Save", 0, 0, 50, 20),
        element("AXButton", "Autosave", 0, 30, 80, 20),
        element("AXButton", "Save As…", 0, 60, 80, 20),
        element("AXButton", "Save", 0, 90, 80, 20),
    };
    const std::string q = AXRanking::normalise("Save");
    EXPECT_EQ(AXRanking::score(elements[3], q), 0);
    EXPECT_EQ(AXRanking::score(elements[2], q), 1);
    EXPECT_EQ(AXRanking::score(elements[1], q), 2);
    EXPECT_EQ(AXRanking::score(elements[0], q), 2);
    // Among the two scored 2 the button wins on actionability, though it is larger.
    EXPECT_EQ(texts(AXRanking::rank(elements, query("Save"))),
              (std::vector<std::string>{"Save", "Save As…", "Autosave", "Don't Save"}));

    // A disabled exact match comes after every enabled match.
    auto withDisabled = elements;
    withDisabled[3].enabled = false;
    EXPECT_EQ(texts(AXRanking::rank(withDisabled, query("Save"))),
              (std::vector<std::string>{"Save As…", "Autosave", "Don't Save", "Save"}));

    // Same score and both actionable: the smaller one first.
    const std::vector<AXElement> sizes{element("AXButton", "Big save", 0, 0, 100, 40),
                                       element("AXButton", "Small save", 0, 50, 30, 10)};
    EXPECT_EQ(texts(AXRanking::rank(sizes, query("save"))), (std::vector<std::string>{"Small save", "Big save"}));
}

TEST(AXRanking, WordSetsSynonymsAndAlternativeNames) {
    EXPECT_EQ(AXRanking::score(element("AXButton", "Save File", 0, 0, 10, 10), AXRanking::normalise("file save")), 3);
    EXPECT_EQ(AXRanking::score(element("AXButton", "Log In", 0, 0, 10, 10), AXRanking::normalise("Sign in")), 4);
    const auto field = element("AXTextField", "Query", 0, 0, 10, 10, true, "Search docs");
    EXPECT_EQ(AXRanking::score(field, AXRanking::normalise("Search")), 5);
    EXPECT_EQ(AXRanking::score(element("AXButton", "Cancel", 0, 0, 10, 10), AXRanking::normalise("Save")),
              std::nullopt);
    // Every query word must be there.
    EXPECT_EQ(AXRanking::score(element("AXButton", "Save File", 0, 0, 10, 10), AXRanking::normalise("file open")),
              std::nullopt);
}

TEST(AXRanking, SynonymVariantsFollowGroupOrderAndSubstrings) {
    EXPECT_EQ(AXRanking::synonymVariants("sign in"), (std::vector<std::string>{"log in", "login", "signin"}));
    EXPECT_EQ(AXRanking::synonymVariants("book"), (std::vector<std::string>{"bookay"}));
    EXPECT_EQ(AXRanking::synonymVariants("remove item"), (std::vector<std::string>{"delete item"}));
    EXPECT_TRUE(AXRanking::synonymVariants("save").empty());
}

TEST(AXRanking, ButtonBeatsItsOwnText) {
    const std::vector<AXElement> elements{element("AXButton", "Delete", 10, 10, 80, 30),
                                          element("AXStaticText", "Delete", 20, 15, 40, 20),
                                          element("AXStaticText", "Delete forever", 20, 50, 90, 20)};
    EXPECT_EQ(AXRanking::rank(elements, query("Delete")), (std::vector<AXElement>{elements[0], elements[2]}));
    // Without an actionable match nothing is redundant.
    const std::vector<AXRanking::Scored> statics{{elements[1], 0}, {elements[2], 1}};
    EXPECT_EQ(AXRanking::redundant(statics), statics);
}

TEST(AXRanking, RoleWordsNarrowOrFallBack) {
    EXPECT_EQ(AXRoles::forWord(" Button "), (std::set<std::string>{"axbutton", "axpopupbutton", "axmenubutton"}));
    EXPECT_EQ(AXRoles::forWord("AXSlider"), (std::set<std::string>{"axslider"}));
    EXPECT_TRUE(AXRoles::forWord("widget").empty());
    EXPECT_EQ(AXRoles::forWord("a"), (std::set<std::string>{"axlink"}));
    EXPECT_EQ(AXRoles::forWord("tab"), (std::set<std::string>{"axtab", "axradiobutton"}));
    EXPECT_EQ(AXRoles::forWord("searchbox"),
              (std::set<std::string>{"axtextfield", "axtextarea", "axcombobox", "axsearchfield"}));

    const std::vector<AXElement> elements{element("AXLink", "Pricing", 0, 0, 50, 20),
                                          element("AXButton", "Pricing", 0, 30, 80, 30)};
    auto params = query("Pricing");
    params.role = "link";
    EXPECT_EQ(texts(AXRanking::rank(elements, params)), (std::vector<std::string>{"Pricing"}));
    EXPECT_EQ(AXRanking::rank(elements, params).front().role, "AXLink");
    // No buttons: everything is searched, as if no role had been given.
    const std::vector<AXElement> links{element("AXLink", "Docs", 0, 0, 50, 20),
                                       element("AXStaticText", "Docs and guides", 0, 30, 80, 20)};
    params = query("Docs");
    params.role = "button";
    EXPECT_EQ(texts(AXRanking::rank(links, params)), (std::vector<std::string>{"Docs", "Docs and guides"}));
    params.role = "widget";
    EXPECT_EQ(AXRanking::rank(links, params).size(), 2u);
}

TEST(AXRanking, NearOrdersEqualMatchesByDistanceToTheAnchor) {
    const std::vector<AXElement> elements{
        element("AXHeading", "Shipping", 0, 0, 100, 20), element("AXButton", "Edit", 300, 10, 40, 20),
        element("AXHeading", "Billing address", 0, 400, 100, 20), element("AXButton", "Edit", 300, 410, 40, 20)};
    auto params = query("Edit");
    EXPECT_EQ(AXRanking::rank(elements, params).front().y, 10);
    params.near = "Billing";
    const auto ranked = AXRanking::rank(elements, params);
    ASSERT_EQ(ranked.size(), 2u);
    EXPECT_EQ(ranked.front().y, 410);
    // An anchor nobody shows leaves document order.
    params.near = "Nowhere";
    EXPECT_EQ(AXRanking::rank(elements, params).front().y, 10);
}

TEST(AXRanking, OrdinalsCountInReadingOrder) {
    const std::vector<AXElement> elements{
        element("AXButton", "Edit", 200, 50, 40, 20), element("AXButton", "Edit profile", 10, 50, 40, 20),
        element("AXButton", "Edit", 300, 10, 40, 20), element("AXStaticText", "Other", 0, 100, 40, 20)};
    auto params = query("Edit", 1);
    params.nth = 2;
    // Second from the top, then from the left, at any score and regardless of limit.
    EXPECT_EQ(AXRanking::rank(elements, params), (std::vector<AXElement>{elements[1]}));
    params.nth = 0;
    EXPECT_EQ(AXRanking::rank(elements, params), (std::vector<AXElement>{elements[2], elements[1], elements[0]}));
    params.nth = 9;
    EXPECT_TRUE(AXRanking::rank(elements, params).empty());

    Params noText;
    noText.nth = -1;
    EXPECT_EQ(AXRanking::rank(elements, noText), (std::vector<AXElement>{elements[3]}));
    noText.nth = std::nullopt;
    noText.limit = 2;
    EXPECT_EQ(AXRanking::rank(elements, noText), (std::vector<AXElement>{elements[2], elements[1]}));
    EXPECT_EQ(AXRanking::ordered(elements, -4), (std::vector<AXElement>{elements[2]}));
    EXPECT_TRUE(AXRanking::ordered(elements, -5).empty());
}

TEST(AXRanking, LimitCutsTheRankedList) {
    std::vector<AXElement> many;
    for (int i = 0; i < 30; ++i) many.push_back(element("AXButton", "Item " + std::to_string(i), 0, i * 30, 50, 20));
    EXPECT_EQ(AXRanking::rank(many, query("item")).size(), 20u);
    EXPECT_EQ(AXRanking::rank(many, query("item", 3)).size(), 3u);
    EXPECT_TRUE(AXRanking::rank(many, query("item", 0)).empty());
    EXPECT_EQ(AXRanking::rank(many, query("   ", 5)).size(), 5u);
}

TEST(AXRanking, ClipKeepsInsideMovesCentresOfPartlyVisibleAndDropsSlivers) {
    auto inside = element("AXButton", "Inside", 10, 10, 50, 20);
    inside.identity = "in";
    inside.inPage = true;
    auto half = element("AXButton", "Half", 380, 10, 40, 20); // right half outside a 400-wide window
    half.identity = "half";
    half.inPage = true;
    const auto sliver = element("AXButton", "Sliver", 397, 50, 40, 20); // 3 points visible
    const auto outside = element("AXButton", "Outside", 500, 50, 40, 20);
    const std::vector<AXElement> elements{inside, half, sliver, outside};

    const auto clipped = AXRanking::clip(elements, Rect{0, 0, 400, 300});
    ASSERT_EQ(clipped.size(), 2u);
    EXPECT_EQ(clipped[0], inside);
    EXPECT_EQ(clipped[1].x, 380);
    EXPECT_EQ(clipped[1].width, 40);
    EXPECT_EQ(clipped[1].cx, 390);
    EXPECT_EQ(clipped[1].cy, 20);
    EXPECT_EQ(clipped[1].identity, "");
    EXPECT_FALSE(clipped[1].inPage);
    EXPECT_EQ(clipped[1].text, "Half");

    // A window under 100 points in either direction is not used for clipping.
    EXPECT_EQ(AXRanking::clip(elements, Rect{0, 0, 99, 300}), elements);
    EXPECT_EQ(AXRanking::clip(elements, Rect{0, 0, 400, 99.5}), elements);
    EXPECT_EQ(AXRanking::clip(elements, std::nullopt), elements);
}
