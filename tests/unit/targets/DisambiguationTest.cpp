// Choosing among namesakes on a scripted page: when the person is asked, what is kept
// of the answer, and how a kept answer is found again.

#include "ScriptedDesktop.h"

#include "plan/AgentError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace vanto;
using vanto::testing::ScriptedDesktop;
using Resolution = Targeting::Resolution;

namespace {

constexpr auto pid = ScriptedDesktop::pid;
constexpr auto app = ScriptedDesktop::appID;

Step click(std::optional<std::string> target, std::optional<std::string> role = {}, std::int64_t occurrence = 1) {
    Step step;
    step.action = "click";
    step.target = std::move(target);
    step.role = std::move(role);
    step.occurrence = occurrence;
    return step;
}

Correction answer(std::string label, std::optional<std::int64_t> nth = {},
                  std::optional<std::int64_t> scrolledBy = {}) {
    Correction correction{.label = std::move(label),
                          .role = "AXButton",
                          .identity = "",
                          .nth = nth,
                          .near = {},
                          .scrolledBy = scrolledBy,
                          .inPage = true,
                          .forThisRunOnly = false};
    return correction;
}

class DisambiguationTest : public ::testing::Test {
protected:
    // Two namesakes, one above the other.
    void twoSaves() {
        desktop.add("AXButton", "Save", {360, 300, 80, 24});
        desktop.add("AXButton", "Save", {360, 500, 80, 24});
    }
    std::vector<AXElement> found(const std::string& text, std::optional<std::string> heldTo = {},
                                 std::optional<bool> side = {}) {
        Targeting::Wanted wanted{
            .text = text, .role = {}, .near = {}, .nth = {}, .heldTo = heldTo, .side = side, .identity = {}};
        return targeting.look(wanted, pid, 9);
    }
    Resolution which(const Step& step, const std::vector<AXElement>& among = {}, bool recording = false) {
        return targeting.whichOne(step, pid, among, recording);
    }

    ScriptedDesktop desktop;
    CorrectionStore& memory = desktop.engine.corrections();
    // What the person does, question by question; a question nobody expects fails.
    std::vector<Picker::Outcome> answers;
    Targeting targeting = desktop.targeting([this](const std::string& question) -> Picker::Outcome {
        if (answers.empty()) ADD_FAILURE() << "asked " << question;
        if (answers.empty()) return Picker::Cancelled{};
        auto next = answers.front();
        answers.erase(answers.begin());
        return next;
    });
};

TEST_F(DisambiguationTest, KeysAndQuestionsNameTheStepsWords) {
    EXPECT_EQ(Targeting::answerKey(click("Save")), "Save");
    EXPECT_EQ(Targeting::answerKey(click("Save", {}, 2)), "Save #2");
    EXPECT_EQ(Targeting::answerKey(click("", "button", 3)), "button #3");
    Step unnamed = click({});
    unnamed.label = "Press it";
    EXPECT_EQ(Targeting::answerKey(unnamed), "Press it");
    Step save = click("Save");
    for (auto [label, asked] : {std::pair{" Click the Save button\n", "the Save button"},
                                {"CLICKS Save", "Save"},
                                {"clicking Save", "Save"},
                                {"Clickable Save", "Clickable Save"},
                                {"  ", "\"Save\""}}) {
        save.label = label;
        EXPECT_EQ(Targeting::asking(save), asked);
    }
    EXPECT_EQ(Targeting::asking(click({}, "button")), "it");
}

TEST_F(DisambiguationTest, ARecordingOrNobodyToAskLeavesTheChoiceToThePlan) {
    twoSaves();
    const auto both = found("Save");
    EXPECT_EQ(which(click({}, ""), both), (Resolution{both, false}));
    EXPECT_EQ(which(click("Save"), {both[1]}), (Resolution{{both[1]}, false}));
    EXPECT_EQ(which(click("Save"), both, true), (Resolution{{}, true}));
    EXPECT_EQ(desktop.targeting().whichOne(click("Save"), pid, both, false), (Resolution{{}, true}));
    EXPECT_TRUE(desktop.questions.empty());
}

TEST_F(DisambiguationTest, AnAnswersWordsDesignateByIdentityWordsPlaceAndSide) {
    twoSaves();
    desktop.add("AXButton", "Save draft", {500, 300, 80, 24});
    desktop.add("AXStaticText", "Save as", {600, 300, 80, 24});
    desktop.add("AXButton", "Save copy", {200, 120, 80, 24}, desktop.window); // the browser's own
    auto texts = [](const std::vector<AXElement>& elements) {
        std::multiset<std::string> of;
        for (const auto& element : elements) of.insert(element.text);
        return of;
    };
    EXPECT_EQ(texts(found("Save", "Save", true)), (std::multiset<std::string>{"Save", "Save", "Save draft"}));
    EXPECT_EQ(texts(found("Save", "save")), (std::multiset<std::string>{"Save", "Save", "Save draft", "Save copy"}));

    auto all = found("Save");
    std::reverse(all.begin(), all.end());
    // The place counts in reading order; a search given the place answers with one alone.
    EXPECT_EQ(Targeting::answering(answer("save", 2), all).value().y, 500);
    EXPECT_EQ(Targeting::answering(answer("save", 2), {all.back()}), all.back());
    EXPECT_EQ(Targeting::answering(answer("save", 4), all), std::nullopt);
    Correction gone = answer("Save", 2);
    gone.identity = "gone-id"; // identities a page makes anew on reload name nothing
    EXPECT_EQ(Targeting::answering(gone, all).value().y, 500);
    // Longer words of a control, on the side of the page it was shown on.
    EXPECT_EQ(Targeting::answering(answer("Save"), found("Save draft")).value().text, "Save draft");
    EXPECT_EQ(Targeting::answering(answer("Save"), found("Save copy")), std::nullopt);
}

TEST_F(DisambiguationTest, ARememberedAnswerOnScreenResolvesInOneLookWithoutAQuestion) {
    twoSaves();
    memory.remember(app, "the save", answer("Save", 2));
    const auto resolution = which(click("Save"), found("Save"));
    ASSERT_EQ(resolution.chosen.size(), 1u);
    EXPECT_EQ(resolution.chosen[0].y, 500);
    EXPECT_EQ(desktop.lines, std::vector<std::string>{"resolved \"Save\" to \"Save\" from a previous answer"});
    EXPECT_EQ(desktop.fake.clock.slept(), 0);
}

TEST_F(DisambiguationTest, ARememberedAnswerShownFurtherDownIsScrolledBackTo) {
    desktop.makeScrollable();
    desktop.add("AXButton", "Save", {200, 2300, 80, 24});
    memory.remember(app, "Save", answer("Save", {}, 2000));
    const auto resolution = which(click("Save"));
    ASSERT_EQ(resolution.chosen.size(), 1u);
    EXPECT_NEAR(static_cast<double>(resolution.chosen[0].y), 300, 40);
    EXPECT_EQ(desktop.lines,
              (std::vector<std::string>{"going back to where \"Save\" was pointed at",
                                        "resolved \"Save\" to \"Save\" by going back to where it was pointed at"}));
    EXPECT_EQ(desktop.engine.scrollTrace().state().travelled, 2000);
}

TEST_F(DisambiguationTest, ARememberedAnswerThatNothingAnswersToFailsARecordingWithSeveralMatches) {
    twoSaves();
    memory.remember(app, "Save", answer("Publish", {}, 2000));
    desktop.engine.scrollTrace().distrust(); // a planned scroll gave up: the distance says nothing
    try {
        which(click("Save"), found("Save"), true);
        ADD_FAILURE() << "no error";
    } catch (const AgentError& error) {
        EXPECT_EQ(error.message(), AgentError::ambiguous("Save", 2).message());
    }
    EXPECT_EQ(desktop.lines, (std::vector<std::string>{
                                 "\"Publish\" answered \"Save\" earlier, and nothing on this screen answers to it now",
                                 "  saw AXButton \"Save\"", "  saw AXButton \"Save\""}));
    EXPECT_EQ(desktop.scrolledDown(), 0);
    desktop.page->children.pop_back();
    EXPECT_EQ(which(click("Save")).chosen.at(0).y, 300); // one match left is the answer
}

TEST_F(DisambiguationTest, WhatThePersonPointsAtIsRememberedWithWhatSinglesItOut) {
    desktop.add("AXButton", "Save", {360, 300, 80, 24});
    desktop.add("AXButton", "Save", {560, 300, 80, 24});
    const auto both = found("Save");
    const auto right = both[0].x == 560 ? both[0] : both[1];
    answers = {Picker::Picked{right}};
    EXPECT_EQ(which(click("Save"), both), (Resolution{{right}, false}));
    EXPECT_EQ(desktop.questions, std::vector<std::string>{"Which one is \"Save\"?"});
    EXPECT_EQ(desktop.lines, (std::vector<std::string>{"\"Save\" is number 2 of its kind",
                                                       "learned \"Save\" means \"Save\" for this recording"}));
    EXPECT_EQ(memory.lookUp(app, "Save"), answer("Save", 2, 0));
    EXPECT_EQ(which(click("Save"), both), (Resolution{{right}, false, true})); // no second question

    desktop.add("AXStaticText", "Shipping", {660, 300, 80, 24});
    desktop.engine.scrollTrace().add(300);
    desktop.lines.clear();
    answers = {Picker::Picked{right}};
    EXPECT_EQ(which(click("Save", {}, 2), both).chosen, std::vector<AXElement>{right});
    EXPECT_EQ(desktop.lines, (std::vector<std::string>{"\"Save\" is the one beside \"Shipping\"",
                                                       "learned \"Save #2\" means \"Save\" for this recording"}));
    Correction beside = answer("Save", {}, 300);
    beside.near = "Shipping";
    EXPECT_EQ(memory.lookUp(app, "Save #2"), beside);
}

TEST_F(DisambiguationTest, RoleOnlyAnswersLastOneRunAndPointingAtNothingKeepsNothing) {
    desktop.add("AXButton", "Save", {200, 300, 80, 24});
    desktop.add("AXButton", "Open", {200, 500, 80, 24});
    const auto open = found("Open").at(0);
    EXPECT_EQ(which(click("Open")).chosen, std::vector<AXElement>{open}); // one found: no question

    desktop.engine.scrollTrace().distrust();
    answers = {Picker::Picked{open}};
    EXPECT_EQ(which(click({}, "button")).chosen, std::vector<AXElement>{open});
    EXPECT_EQ(memory.lookUp(app, "button").value().forThisRunOnly, true);
    EXPECT_EQ(memory.lookUp(app, "button").value().scrolledBy, std::nullopt);
    memory.beginRun();
    EXPECT_FALSE(memory.knows(app, "button"));

    desktop.lines.clear();
    answers = {Picker::Unnamed{{150, 650}}, Picker::Cancelled{}, Picker::TimedOut{}};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(which(click("Pay")), (Resolution{{}, true}));
    const std::string none = "nothing on screen matches \"Pay\"";
    EXPECT_EQ(desktop.lines,
              (std::vector<std::string>{none, "\"Pay\" was pointed at, but the page gives it no name to remember", none,
                                        none}));
    EXPECT_EQ(desktop.questions.back(), "Nothing here looks like \"Pay\". Which one is it?");
    EXPECT_TRUE(memory.entries().empty());

    // An application with no identifier is answered, and nothing is kept for it.
    desktop.fake.accessibility.bundleIDs[pid] = "";
    answers = {Picker::Picked{open}};
    EXPECT_EQ(which(click("Deliver")).chosen, std::vector<AXElement>{open});
    EXPECT_TRUE(memory.entries().empty());
}

TEST_F(DisambiguationTest, APlanTakesOnTheAnswersGivenForItsSteps) {
    Correction changes = answer("Save changes");
    changes.near = "Shipping";
    memory.remember(app, "Save", changes);
    memory.remember(app, "open", answer("Open", 1));
    const std::vector<Step> plan{click("Save", "button"), click("Open"), click("Save", {}, 2)};
    const auto steps = targeting.answered(plan, pid);
    Step saveChanges = click("Save changes", "AXButton"), open = click("Open", "AXButton");
    saveChanges.near = "Shipping";
    open.nth = 1;
    saveChanges.fromAnswer = open.fromAnswer = true;
    EXPECT_EQ(steps, (std::vector<Step>{saveChanges, open, plan[2]}));
    EXPECT_EQ(desktop.lines,
              std::vector<std::string>{"the take will look for \"Save changes\" where the plan said \"Save\""});
}

} // namespace
