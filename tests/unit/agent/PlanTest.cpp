#include "plan/Plan.h"
#include "agent/PlanSteps.h"
#include "base/Json.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

Step step(std::string action, std::optional<std::string> url = {}) {
    Step s;
    s.action = std::move(action);
    s.url = std::move(url);
    return s;
}

TEST(Plan, aStepNeedsOnlyItsActionAndAStepWithoutOneFailsThePlan) {
    auto plan = decodePlan(std::string(R"({"steps":[{"action":"back"},{"action":"click","target":"Save","nth":2,
        "occurrence":5,"fromAnswer":true,"unknown":1}]})"));
    ASSERT_EQ(plan.steps.size(), 2u);
    EXPECT_EQ(plan.steps[0], step("back"));
    EXPECT_EQ(plan.steps[1].target, "Save");
    EXPECT_EQ(plan.steps[1].nth, 2);
    EXPECT_EQ(plan.steps[1].occurrence, 1); // never read from a file
    EXPECT_FALSE(plan.steps[1].fromAnswer);

    EXPECT_THROW(decodePlan(std::string(R"({"steps":[{"action":"back"},{"target":"Save"}]})")), DecodeError);
    EXPECT_THROW(decodePlan(std::string(R"({"steps":[{"action":"scroll","dy":"down"}]})")), DecodeError);
    EXPECT_THROW(decodePlan(std::string(R"({"steps":{}})")), DecodeError);
    EXPECT_THROW(decodePlan(std::string(R"({"plan":[]})")), DecodeError);
    EXPECT_THROW(decodePlan(std::string("not json")), DecodeError);
}

TEST(Plan, decodingErrorsSpeakToThePersonAndNameTheKey) {
    auto messageOf = [](const std::string& text) -> std::string {
        try {
            decodePlan(text);
        } catch (const DecodeError& error) {
            return error.what();
        }
        return "(decoded)";
    };
    EXPECT_EQ(messageOf("{"), "the plan is not valid JSON: parse error at line 1, column 2: syntax error while parsing "
                              "object key - unexpected end of input; expected string literal");
    EXPECT_EQ(messageOf(R"({"steps":[{"action":"scroll","dy":1e12}]})"),
              R"("dy" must be a whole number from -2147483648 to 2147483647)");
}

TEST(Plan, encodingWritesTheKeysInOrderAndNeverTheInMemoryFields) {
    Step s = step("type");
    s.label = "Name";
    s.text = "Ada";
    s.target = "Name field";
    s.occurrence = 3;
    s.fromAnswer = true;
    EXPECT_EQ(toJSON(s).dump(), R"({"action":"type","target":"Name field","text":"Ada","label":"Name"})");
    auto back = Step::fromJSON(nlohmann::json::parse(toJSON(s).dump()));
    EXPECT_EQ(back.text, "Ada");
    EXPECT_EQ(back.occurrence, 1);
}

TEST(Plan, waitsAreClampedTo10Seconds) {
    Step wait = step("wait");
    EXPECT_DOUBLE_EQ(waitSeconds(wait), 0.8);
    wait.ms = 60000;
    EXPECT_DOUBLE_EQ(waitSeconds(wait), 10);
    wait.ms = -5;
    EXPECT_DOUBLE_EQ(waitSeconds(wait), 0);
    wait.ms = 1500;
    EXPECT_DOUBLE_EQ(waitSeconds(wait), 1.5);
}

TEST(PlanSteps, aNavigationToTheOpenPageIsSkippedOnlyAsTheFirstRealStep) {
    std::vector<Step> steps{step("open"), step("open"), step("navigate", "http://example.com"), step("click")};
    auto kept = PlanSteps::skippingTheStart(steps, "https://www.example.com//");
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[0].action, "open");
    EXPECT_EQ(kept[1].action, "open");
    EXPECT_EQ(kept[2].action, "click");

    std::vector<Step> clickFirst{step("click"), step("navigate", "https://example.com")};
    EXPECT_EQ(PlanSteps::skippingTheStart(clickFirst, "https://example.com").size(), 2u);
    EXPECT_EQ(PlanSteps::skippingTheStart(steps, std::nullopt).size(), 4u);
    EXPECT_EQ(PlanSteps::skippingTheStart(steps, "https://example.com/other").size(), 4u);
    std::vector<Step> twice{step("navigate", "example.com"), step("navigate", "example.com")};
    EXPECT_EQ(PlanSteps::skippingTheStart(twice, "EXAMPLE.com").size(), 1u);
    EXPECT_FALSE(PlanSteps::samePage("https://example.com/a", "https://example.com/b"));
}

TEST(PlanSteps, promptAndDescription) {
    EXPECT_EQ(PlanSteps::planned("show the pricing", std::nullopt), "show the pricing");
    EXPECT_EQ(PlanSteps::planned("show the pricing", "https://x.test"),
              "Google Chrome is already open on https://x.test. Start from that page; do not navigate to it again. "
              "show the pricing");
    Step click = step("click");
    click.target = "Sign in";
    EXPECT_EQ(PlanSteps::describe(click), "click Sign in");
    EXPECT_EQ(PlanSteps::describe(step("navigate", "https://x.test")), "navigate https://x.test");
    EXPECT_EQ(PlanSteps::describe(step("back")), "back");
    click.label = "Sign in to the dashboard";
    EXPECT_EQ(PlanSteps::describe(click), "Sign in to the dashboard");
    EXPECT_EQ(PlanError::question("Which account?").what(), std::string("Which account?"));
}

TEST(PlanSteps, stepsNamingTheSameThingAreNumberedInOrder) {
    auto click = [](std::optional<std::string> target, std::optional<std::string> role = {}) {
        Step s = step("click");
        s.target = std::move(target);
        s.role = std::move(role);
        return s;
    };
    Step none = step("wait");
    none.occurrence = 7; // nothing to name: left as it was
    auto steps =
        PlanSteps::numbered({click("Save"), click("  SAVE "), step("back"), click("Sävé"), click("", "button"),
                             click(std::nullopt, "Button"), step("back"), none, click("Save…"), click("Cancel")});
    std::vector<std::int64_t> occurrences;
    for (const auto& s : steps) occurrences.push_back(s.occurrence);
    // Case, spaces, accents and punctuation make no other key; an empty target falls
    // back to the role; "back" steps count together.
    EXPECT_EQ(occurrences, (std::vector<std::int64_t>{1, 2, 1, 3, 1, 2, 2, 7, 4, 1}));
}

} // namespace
} // namespace vanto
