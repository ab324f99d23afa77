// Choosing among namesakes and remembering what the person pointed at, on a scripted
// page: what is asked and when, what is remembered and how it is found again.

#include "ScriptedDesktop.h"

#include "plan/AgentError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace vanto;
using vanto::testing::ScriptedDesktop;

namespace {

Step clickOn(std::optional<std::string> target, std::optional<std::string> role = std::nullopt) {
    Step step;
    step.action = "click";
    step.target = std::move(target);
    step.role = std::move(role);
    return step;
}

std::set<std::string> textsOf(const std::vector<AXElement>& elements) {
    std::set<std::string> texts;
    for (const auto& element : elements) texts.insert(element.text);
    return texts;
}

Targeting::Wanted wanted(std::optional<std::string> text, std::optional<std::string> heldTo = std::nullopt,
                         std::optional<bool> side = std::nullopt, std::optional<std::string> identity = std::nullopt) {
    Targeting::Wanted wanted;
    wanted.text = std::move(text);
    wanted.heldTo = std::move(heldTo);
    wanted.side = side;
    wanted.identity = std::move(identity);
    return wanted;
}

Picker::Outcome nobodyShouldBeAsked(const std::string& question) {
    ADD_FAILURE() << "asked " << question;
    return Picker::Cancelled{};
}

TEST(DisambiguationTest, KeysAndQuestionsNameTheStepsWords) {
    Step save = clickOn("Save");
    EXPECT_EQ(Targeting::answerKey(save), "Save");
    save.occurrence = 2;
    EXPECT_EQ(Targeting::answerKey(save), "Save #2");
    Step button = clickOn("", "button");
    button.occurrence = 3;
    EXPECT_EQ(Targeting::answerKey(button), "button #3");
    Step labelled = clickOn(std::nullopt, "");
    EXPECT_EQ(Targeting::answerKey(labelled), "");
    labelled.label = "Press it";
    EXPECT_EQ(Targeting::answerKey(labelled), "Press it");

    save.label = "  Click the Save button\n";
    EXPECT_EQ(Targeting::asking(save), "the Save button");
    save.label = "CLICKS Save";
    EXPECT_EQ(Targeting::asking(save), "Save");
    save.label = "clicking Save";
    EXPECT_EQ(Targeting::asking(save), "Save");
    save.label = "Clickable Save";
    EXPECT_EQ(Targeting::asking(save), "Clickable Save");
    save.label = "   ";
    EXPECT_EQ(Targeting::asking(save), "\"Save\"");
    EXPECT_EQ(Targeting::asking(clickOn(std::nullopt, "button")), "it");
}

TEST(DisambiguationTest, WithoutSomebodyToAskNothingIsChosenForTheStep) {
    ScriptedDesktop desktop;
    desktop.add("AXButton", "Save", {200, 300, 80, 24});
    desktop.add("AXButton", "Save", {200, 500, 80, 24});
    auto targeting = desktop.targeting(nobodyShouldBeAsked);
    const auto both = targeting.look(wanted("Save"), ScriptedDesktop::pid, 9);
    ASSERT_EQ(both.size(), 2u);

    // Words that name nothing choose nothing: the candidates stay as they came.
    Step wordless = clickOn(std::nullopt, "");
    EXPECT_EQ(targeting.whichOne(wordless, ScriptedDesktop::pid, both, false), (Targeting::Resolution{both, false}));
    const Step save = clickOn("Save");
    EXPECT_EQ(targeting.whichOne(save, ScriptedDesktop::pid, {both[1]}, false),
              (Targeting::Resolution{{both[1]}, false}));
    // A recording never stops to ask.
    EXPECT_EQ(targeting.whichOne(save, ScriptedDesktop::pid, both, true), (Targeting::Resolution{{}, true}));
    EXPECT_TRUE(desktop.questions.empty());

    auto unattended = desktop.targeting();
    EXPECT_EQ(unattended.whichOne(save, ScriptedDesktop::pid, both, false), (Targeting::Resolution{{}, true}));
    EXPECT_EQ(unattended.whichOne(save, ScriptedDesktop::pid, {}, false), (Targeting::Resolution{{}, true}));
}

TEST(DisambiguationTest, ALookHeldToAnAnswersWordsKeepsOnlyWhatCarriesThem) {
    ScriptedDesktop desktop;
    desktop.add("AXButton", "Save", {200, 300, 80, 24});
    desktop.add("AXButton", "Save draft", {300, 300, 80, 24});
    desktop.add("AXLink", "Saved items", {400, 300, 80, 24});
    desktop.add("AXStaticText", "Save as", {500, 300, 80, 24});
    desktop.add("AXButton", "Keep", {600, 300, 80, 24})->set("AXIdentifier", std::string("keep-id"));
    // In the browser's own toolbar, outside the page.
    desktop.add("AXButton", "Save copy", {200, 120, 80, 24}, desktop.window);
    auto targeting = desktop.targeting();
    const auto pid = ScriptedDesktop::pid;

    EXPECT_EQ(textsOf(targeting.look(wanted("Save", "Save", true), pid, 9)),
              (std::set<std::string>{"Save", "Save draft"}));
    EXPECT_EQ(textsOf(targeting.look(wanted("Save", "save"), pid, 9)),
              (std::set<std::string>{"Save", "Save draft", "Save copy"}));
    EXPECT_EQ(textsOf(targeting.look(wanted(std::nullopt, "Save", false, "keep-id"), pid, 20)),
              (std::set<std::string>{"Save", "Save copy", "Keep"}));
    // Without an answer's words, whatever the search finds.
    EXPECT_TRUE(textsOf(targeting.look(wanted("Save"), pid, 9)).contains("Save as"));
}

} // namespace
