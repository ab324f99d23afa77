#include "drivers/DriverCommand.h"
#include "base/Json.h"
#include "drivers/DriverLook.h"
#include "drivers/DriverResult.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

DriverCommand wire(const char* text) {
    return DriverCommand::fromWire(nlohmann::json::parse(text));
}

std::string refusal(const char* text) {
    try {
        wire(text);
    } catch (const DecodeError& error) {
        return error.what();
    }
    return "(accepted)";
}

TEST(DriverCommand, wirePrecedenceIsStepAbortEndLook) {
    auto step = wire(R"({"id":3,"step":{"action":"click","target":"Save"},"end":true,"abort":true})");
    EXPECT_EQ(step.kind, DriverCommand::Kind::step);
    EXPECT_EQ(step.id, 3);
    ASSERT_TRUE(step.step);
    EXPECT_EQ(step.step->action, "click");
    EXPECT_EQ(step.step->target, "Save");

    EXPECT_EQ(wire(R"({"id":4,"abort":true,"end":true,"look":true})"), DriverCommand::aborting(4));
    EXPECT_EQ(wire(R"({"id":5,"end":true,"look":true})"), DriverCommand::ending(5));
    EXPECT_EQ(wire(R"({"id":6,"look":true})"), DriverCommand::looking(6));
    // False counts as absent.
    EXPECT_EQ(wire(R"({"id":7,"abort":false,"end":false,"look":true})"), DriverCommand::looking(7));
    EXPECT_EQ(wire(R"({"id":8,"step":null,"end":true})"), DriverCommand::ending(8));
    EXPECT_EQ(wire(R"({"id":-2,"end":true,"unknown":{}})"), DriverCommand::ending(-2));
}

TEST(DriverCommand, refusesCommandsThatNameNothingOrAreMisshapen) {
    EXPECT_EQ(refusal(R"({"id":1,"look":false})"), "it names no step, look, end or abort");
    EXPECT_EQ(refusal(R"({"id":1})"), "it names no step, look, end or abort");
    EXPECT_EQ(refusal(R"({"end":true})"), R"(missing "id")");
    EXPECT_EQ(refusal(R"({"id":"1","end":true})"), R"("id" must be a whole number)");
    EXPECT_EQ(refusal(R"({"id":1.5,"end":true})"), R"("id" must be a whole number)");
    EXPECT_EQ(refusal(R"({"id":1,"end":"yes"})"), R"("end" must be true or false)");
    // A mistyped key is not hidden by a command that would win anyway.
    EXPECT_EQ(refusal(R"({"id":1,"step":{"action":"back"},"look":1})"), R"("look" must be true or false)");
    EXPECT_EQ(refusal(R"({"id":1,"step":{"target":"x"}})"), R"(step: missing "action")");
    EXPECT_EQ(refusal(R"({"id":1,"step":"click"})"), R"("step" must be an object)");
    EXPECT_EQ(refusal(R"([1])"), "a driver's command must be a JSON object");
}

TEST(DriverResult, encodesSortedKeysAndLeavesAbsentFieldsOut) {
    DriverResult opening{0, DriverResult::Outcome::started, std::nullopt, DriverLook{std::nullopt, {}, std::nullopt}};
    EXPECT_EQ(toJSON(opening).dump(), R"({"id":0,"look":{"controls":[]},"outcome":"started"})");

    DriverResult failed{9, DriverResult::Outcome::failed, "no element named Save", std::nullopt};
    EXPECT_EQ(toJSON(failed).dump(), R"({"error":"no element named Save","id":9,"outcome":"failed"})");

    DriverResult done{2, DriverResult::Outcome::done, std::nullopt,
                      DriverLook{"https://example.com/", {{"button", "Save"}, {"link", "Home"}}, "look-2.png"}};
    EXPECT_EQ(toJSON(done).dump(),
              R"({"id":2,"look":{"controls":[{"label":"Save","role":"button"},{"label":"Home","role":"link"}],)"
              R"("screenshot":"look-2.png","url":"https://example.com/"},"outcome":"done"})");

    const std::pair<DriverResult::Outcome, const char*> texts[] = {
        {DriverResult::Outcome::started, "started"},     {DriverResult::Outcome::done, "done"},
        {DriverResult::Outcome::unchanged, "unchanged"}, {DriverResult::Outcome::failed, "failed"},
        {DriverResult::Outcome::looked, "looked"},       {DriverResult::Outcome::ended, "ended"}};
    for (auto [outcome, text] : texts) EXPECT_EQ(DriverResult::text(outcome), text);
}

TEST(DriverLook, kindsFollowTheTable) {
    EXPECT_EQ(DriverLook::kind("AXLink"), "link");
    for (const char* role : {"AXButton", "AXPopUpButton", "AXMenuButton"}) EXPECT_EQ(DriverLook::kind(role), "button");
    for (const char* role : {"AXTextField", "AXTextArea", "AXComboBox"}) EXPECT_EQ(DriverLook::kind(role), "input");
    for (const char* role : {"AXCheckBox", "AXRadioButton"}) EXPECT_EQ(DriverLook::kind(role), "checkbox");
    EXPECT_EQ(DriverLook::kind("AXMenuItem"), "menuitem");
    EXPECT_EQ(DriverLook::kind("AXSlider"), "AXSlider");
    EXPECT_EQ(DriverLook::kind("axlink"), "axlink");
}

AXElement element(const std::string& role, const std::string& text, bool inPage = true, const std::string& alt = "") {
    AXElement e;
    e.role = role;
    e.text = text;
    e.alt = alt;
    e.inPage = inPage;
    return e;
}

TEST(DriverLook, controlsAreThePagesNamedActionableElements) {
    std::vector<AXElement> found{
        element("AXButton", "Save"),
        element("AXStaticText", "Heading"),         // not actionable
        element("AXButton", "Toolbar", false),      // outside the page
        element("AXTextField", "", true, "Search"), // alternative text stands in
        element("AXLink", ""),                      // no label at all
        element("AXButton", "Save"),                // same role and label again
        element("AXPopUpButton", "Save"),           // same label, other role: listed
        element("AXCheckBox", "Remember me"),
    };
    auto controls = DriverLook::controlsFrom(found);
    std::vector<DriverLook::Control> expected{
        {"button", "Save"}, {"input", "Search"}, {"button", "Save"}, {"checkbox", "Remember me"}};
    EXPECT_EQ(controls, expected);
}

TEST(DriverLook, labelsAreCutTo120CharactersAndControlsTo150) {
    // 130 perceived characters, each two code points (e + combining acute).
    std::string accented;
    for (int i = 0; i < 130; ++i) accented += "e\u0301";
    auto controls = DriverLook::controlsFrom({element("AXLink", accented), element("AXLink", std::string(121, 'x'))});
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0].label.size(), 120u * std::string("e\u0301").size());
    EXPECT_EQ(controls[1].label, std::string(120, 'x'));
    // Cut labels that become equal are listed once.
    controls = DriverLook::controlsFrom(
        {element("AXLink", std::string(121, 'x') + "a"), element("AXLink", std::string(121, 'x') + "b")});
    EXPECT_EQ(controls.size(), 1u);

    std::vector<AXElement> many;
    for (int i = 0; i < 200; ++i) many.push_back(element("AXButton", "B" + std::to_string(i)));
    controls = DriverLook::controlsFrom(many);
    ASSERT_EQ(controls.size(), 150u);
    EXPECT_EQ(controls.front().label, "B0");
    EXPECT_EQ(controls.back().label, "B149");
}

} // namespace
} // namespace vanto
