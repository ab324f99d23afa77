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

Correction answer(std::string label, std::string role = "AXButton") {
    Correction correction;
    correction.label = std::move(label);
    correction.role = std::move(role);
    correction.inPage = true;
    return correction;
}

AXElement element(std::string role, std::string text, std::int64_t x, std::int64_t y, bool inPage = true) {
    AXElement made;
    made.role = std::move(role);
    made.text = std::move(text);
    made.x = x;
    made.y = y;
    made.width = 80;
    made.height = 24;
    made.cx = x + 40;
    made.cy = y + 12;
    made.inPage = inPage;
    return made;
}

TEST(DisambiguationTest, ARememberedAnswerDesignatesByIdentityThenWordsAndPlace) {
    const auto first = element("AXButton", "Save", 500, 300), second = element("AXButton", "Save", 100, 400),
               third = element("AXButton", "Save", 100, 300);
    Correction byPlace = answer("save");
    byPlace.nth = 2;
    // Counted in reading order, whatever order the search gave them in.
    EXPECT_EQ(Targeting::answering(byPlace, {first, second, third}), first);
    // A search that was given the place answers with that one element alone.
    EXPECT_EQ(Targeting::answering(byPlace, {second}), second);
    byPlace.nth = 4;
    EXPECT_EQ(Targeting::answering(byPlace, {first, second, third}), std::nullopt);

    auto keep = element("AXButton", "Keep", 300, 300);
    keep.identity = "keep-id";
    Correction byIdentity = answer("Save");
    byIdentity.identity = "keep-id";
    EXPECT_EQ(Targeting::answering(byIdentity, {first, keep}), keep);
    byIdentity.identity = "gone-id";
    EXPECT_EQ(Targeting::answering(byIdentity, {keep, first}), first);

    // Longer words of something one acts on, on the side of the page it was shown on.
    const auto draft = element("AXButton", "Save draft", 100, 300),
               toolbar = element("AXButton", "Save copy", 100, 100, false),
               text = element("AXStaticText", "Save as", 100, 500);
    EXPECT_EQ(Targeting::answering(answer("Save"), {text, toolbar, draft}), draft);
    EXPECT_EQ(Targeting::answering(answer("Save"), {text, toolbar}), std::nullopt);
    EXPECT_EQ(Targeting::answering(answer("Save", "AXLink"), {first}), std::nullopt);
}

TEST(DisambiguationTest, ARememberedAnswerOnScreenResolvesAtOnceWithoutAQuestion) {
    ScriptedDesktop desktop;
    desktop.add("AXButton", "Save", {200, 300, 80, 24});
    desktop.add("AXButton", "Save", {200, 500, 80, 24});
    Correction second = answer("Save");
    second.nth = 2;
    desktop.engine.corrections().remember(ScriptedDesktop::appID, "the save", second);
    auto targeting = desktop.targeting(nobodyShouldBeAsked);
    const auto both = targeting.look(wanted("Save"), ScriptedDesktop::pid, 9);

    const auto resolution = targeting.whichOne(clickOn("Save"), ScriptedDesktop::pid, both, false);
    ASSERT_EQ(resolution.chosen.size(), 1u);
    EXPECT_EQ(resolution.chosen[0].y, 500);
    EXPECT_FALSE(resolution.nobodyAnswered);
    EXPECT_EQ(desktop.lines, std::vector<std::string>{"resolved \"Save\" to \"Save\" from a previous answer"});
    EXPECT_EQ(desktop.fake.clock.slept(), 0);
}

TEST(DisambiguationTest, AnAnswerThatNothingAnswersToNowFailsARecordingWithSeveralMatches) {
    ScriptedDesktop desktop;
    desktop.add("AXButton", "Save", {200, 300, 80, 24});
    desktop.add("AXButton", "Save", {200, 500, 80, 24});
    Correction publish = answer("Publish");
    publish.scrolledBy = 2000;
    desktop.engine.corrections().remember(ScriptedDesktop::appID, "Save", publish);
    // A planned scroll gave up: where the page is no longer says where the answer was.
    desktop.engine.scrollTrace().distrust();
    auto targeting = desktop.targeting(nobodyShouldBeAsked);
    const auto both = targeting.look(wanted("Save"), ScriptedDesktop::pid, 9);

    try {
        targeting.whichOne(clickOn("Save"), ScriptedDesktop::pid, both, true);
        ADD_FAILURE() << "no error";
    } catch (const AgentError& error) {
        EXPECT_EQ(error.kind(), AgentError::Case::ambiguous);
        EXPECT_EQ(error.message(), AgentError::ambiguous("Save", 2).message());
    }
    EXPECT_EQ(desktop.lines, (std::vector<std::string>{
                                 "\"Publish\" answered \"Save\" earlier, and nothing on this screen answers to it now",
                                 "  saw AXButton \"Save\"", "  saw AXButton \"Save\""}));
    EXPECT_EQ(desktop.scrolledDown(), 0);

    // Outside a recording one match left is the answer, and none at all is said so.
    desktop.lines.clear();
    Step pay = clickOn("Pay");
    pay.occurrence = 2;
    desktop.engine.corrections().remember(ScriptedDesktop::appID, "Pay #2", answer("Publish"));
    EXPECT_EQ(targeting.whichOne(pay, ScriptedDesktop::pid, {}, true), (Targeting::Resolution{{}, true}));
    EXPECT_EQ(desktop.lines.back(), "  nothing here matches \"Pay #2\" at all");
    desktop.page->children.pop_back();
    const auto one = targeting.whichOne(clickOn("Save"), ScriptedDesktop::pid, both, false);
    EXPECT_EQ(one, (Targeting::Resolution{{both[0]}, false}));
}

TEST(DisambiguationTest, AnAnswerShownFurtherDownIsFoundByScrollingBackToIt) {
    ScriptedDesktop desktop;
    desktop.makeScrollable();
    desktop.add("AXButton", "Save", {200, 2300, 80, 24});
    Correction save = answer("Save");
    save.scrolledBy = 2000;
    desktop.engine.corrections().remember(ScriptedDesktop::appID, "Save", save);
    auto targeting = desktop.targeting(nobodyShouldBeAsked);

    const auto resolution = targeting.whichOne(clickOn("Save"), ScriptedDesktop::pid, {}, false);
    ASSERT_EQ(resolution.chosen.size(), 1u);
    EXPECT_EQ(resolution.chosen[0].text, "Save");
    EXPECT_NEAR(static_cast<double>(resolution.chosen[0].y), 300, 40);
    EXPECT_EQ(desktop.lines,
              (std::vector<std::string>{"going back to where \"Save\" was pointed at",
                                        "resolved \"Save\" to \"Save\" by going back to where it was pointed at"}));
    EXPECT_EQ(desktop.engine.scrollTrace().state().travelled, 2000);
}

TEST(DisambiguationTest, WhatThePersonPointsAtIsRememberedWithWhatSinglesItOut) {
    ScriptedDesktop desktop;
    desktop.add("AXButton", "Save", {360, 300, 80, 24});
    const auto right = desktop.add("AXButton", "Save", {560, 300, 80, 24});
    const auto pid = ScriptedDesktop::pid;
    std::optional<AXElement> pointedAt;
    auto targeting =
        desktop.targeting([&](const std::string&) -> Picker::Outcome { return Picker::Picked{*pointedAt}; });
    const auto both = targeting.look(wanted("Save"), pid, 9);
    ASSERT_EQ(both.size(), 2u);
    pointedAt = both[0].x == 560 ? both[0] : both[1];

    // Nothing nearby tells the two apart: the place among them does.
    EXPECT_EQ(targeting.whichOne(clickOn("Save"), pid, both, false), (Targeting::Resolution{{*pointedAt}, false}));
    EXPECT_EQ(desktop.questions, std::vector<std::string>{"Which one is \"Save\"?"});
    EXPECT_EQ(desktop.lines, (std::vector<std::string>{"\"Save\" is number 2 of its kind",
                                                       "learned \"Save\" means \"Save\" for this recording"}));
    auto remembered = desktop.engine.corrections().lookUp(ScriptedDesktop::appID, "Save");
    ASSERT_TRUE(remembered);
    EXPECT_EQ(remembered->nth, 2);
    EXPECT_EQ(remembered->near, std::nullopt);
    EXPECT_EQ(remembered->scrolledBy, 0);
    EXPECT_EQ(remembered->inPage, true);
    EXPECT_FALSE(remembered->forThisRunOnly);

    // The next take needs no question.
    desktop.lines.clear();
    EXPECT_EQ(targeting.whichOne(clickOn("Save"), pid, both, false), (Targeting::Resolution{{*pointedAt}, false}));
    EXPECT_EQ(desktop.questions.size(), 1u);
    EXPECT_EQ(desktop.lines, std::vector<std::string>{"resolved \"Save\" to \"Save\" from a previous answer"});

    // A label beside one of them does, and the distance scrolled is kept while it can be trusted.
    desktop.add("AXStaticText", "Shipping", {660, 300, 80, 24});
    desktop.lines.clear();
    desktop.engine.scrollTrace().add(300);
    Step again = clickOn("Save");
    again.occurrence = 2;
    EXPECT_EQ(targeting.whichOne(again, pid, both, false).chosen, std::vector<AXElement>{*pointedAt});
    EXPECT_EQ(desktop.lines, (std::vector<std::string>{"\"Save\" is the one beside \"Shipping\"",
                                                       "learned \"Save #2\" means \"Save\" for this recording"}));
    remembered = desktop.engine.corrections().lookUp(ScriptedDesktop::appID, "Save #2");
    ASSERT_TRUE(remembered);
    EXPECT_EQ(remembered->near, "Shipping");
    EXPECT_EQ(remembered->nth, std::nullopt);
    EXPECT_EQ(remembered->scrolledBy, 300);
    (void)right;
}

TEST(DisambiguationTest, AnswersForARoleAloneLastOneRunAndUnnamedAnswersAreNotKept) {
    ScriptedDesktop desktop;
    desktop.add("AXButton", "Save", {200, 300, 80, 24});
    desktop.add("AXButton", "Open", {200, 500, 80, 24});
    const auto pid = ScriptedDesktop::pid;
    std::vector<Picker::Outcome> outcomes;
    auto targeting = desktop.targeting([&](const std::string&) {
        if (outcomes.empty()) return nobodyShouldBeAsked("");
        auto next = outcomes.front();
        outcomes.erase(outcomes.begin());
        return next;
    });
    auto& memory = desktop.engine.corrections();
    const auto open = targeting.look(wanted("Open"), pid, 1).at(0);

    // What the words find alone, once looked for, needs no question.
    EXPECT_EQ(targeting.whichOne(clickOn("Open"), pid, {}, false).chosen, std::vector<AXElement>{open});

    // Where the page is cannot be trusted after a planned scroll gave up: no distance is kept.
    desktop.engine.scrollTrace().distrust();
    outcomes = {Picker::Picked{open}};
    EXPECT_EQ(targeting.whichOne(clickOn(std::nullopt, "button"), pid, {}, false).chosen, std::vector<AXElement>{open});
    const auto remembered = memory.lookUp(ScriptedDesktop::appID, "button");
    ASSERT_TRUE(remembered);
    EXPECT_TRUE(remembered->forThisRunOnly);
    EXPECT_EQ(remembered->scrolledBy, std::nullopt);
    memory.beginRun();
    EXPECT_FALSE(memory.knows(ScriptedDesktop::appID, "button"));

    // Pointing at nothing namable, pressing Escape and letting the time run out choose nothing;
    // only the first says so.
    desktop.lines.clear();
    outcomes = {Picker::Unnamed{{150, 650}}, Picker::Cancelled{}, Picker::TimedOut{}};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(targeting.whichOne(clickOn("Pay"), pid, {}, false), (Targeting::Resolution{{}, true}));
    EXPECT_EQ(desktop.lines,
              (std::vector<std::string>{"nothing on screen matches \"Pay\"",
                                        "\"Pay\" was pointed at, but the page gives it no name to remember",
                                        "nothing on screen matches \"Pay\"", "nothing on screen matches \"Pay\""}));
    EXPECT_EQ(desktop.questions.back(), "Nothing here looks like \"Pay\". Which one is it?");
    EXPECT_FALSE(memory.knows(ScriptedDesktop::appID, "Pay"));

    // Without a bundle the owner of its windows names the application; with neither there
    // is nowhere to keep answers.
    desktop.fake.accessibility.bundleIDs[pid] = "";
    outcomes = {Picker::Picked{open}};
    EXPECT_EQ(targeting.whichOne(clickOn("Pay"), pid, {}, false).chosen, std::vector<AXElement>{open});
    EXPECT_TRUE(memory.knows("Shop", "Pay"));
    desktop.fake.windows.windows.clear();
    outcomes = {Picker::Picked{open}};
    EXPECT_EQ(targeting.whichOne(clickOn("Deliver"), pid, {}, false).chosen, std::vector<AXElement>{open});
    EXPECT_EQ(memory.entries().size(), 1u);
}

TEST(DisambiguationTest, APlanTakesOnTheAnswersGivenForItsSteps) {
    ScriptedDesktop desktop;
    auto& memory = desktop.engine.corrections();
    Correction changes = answer("Save changes");
    changes.near = "Shipping";
    memory.remember(ScriptedDesktop::appID, "Save", changes);
    Correction first = answer("Open", "AXLink");
    first.nth = 1;
    memory.remember(ScriptedDesktop::appID, "open", first);
    auto targeting = desktop.targeting();

    Step secondSave = clickOn("Save");
    secondSave.occurrence = 2;
    const std::vector<Step> plan{clickOn("Save", "button"), clickOn("Open"), secondSave, clickOn("Close")};
    const auto steps = targeting.answered(plan, ScriptedDesktop::pid);
    ASSERT_EQ(steps.size(), 4u);
    Step expected = clickOn("Save changes", "AXButton");
    expected.near = "Shipping";
    expected.fromAnswer = true;
    EXPECT_EQ(steps[0], expected);
    expected = clickOn("Open", "AXLink");
    expected.nth = 1;
    expected.fromAnswer = true;
    EXPECT_EQ(steps[1], expected);
    EXPECT_EQ(steps[2], plan[2]);
    EXPECT_EQ(steps[3], plan[3]);
    EXPECT_EQ(desktop.lines,
              std::vector<std::string>{"the take will look for \"Save changes\" where the plan said \"Save\""});
}

} // namespace
