#include "cli/Protocol.h"

#include <gtest/gtest.h>

#include <sstream>
#include <utility>
#include <vector>

namespace vanto {
namespace {

TEST(Request, decodesEveryFieldWithItsType) {
    auto r = decodeRequest(
        R"({"cmd":"start","target":{"kind":"window","windowID":42,"rect":{"x":1,"y":2,"width":3,"height":4.5}},
        "fps":60,"output":"/tmp/a.mov","showsCursor":false,"to":{"x":10.5,"y":-3},"duration":1.5,"settle":0.2,
        "button":"right","text":"héllo","charsPerSecond":20,"keys":["cmd","a"],"dy":-101,"dx":7,"prompt":true,
        "pid":123,"role":"button","limit":5,"allWindows":true,"label":"Open","token":"t","apiBase":"https://x",
        "path":"/p","narration":"n"})");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->cmd, Request::Command::start);
    ASSERT_TRUE(r->target);
    EXPECT_EQ(r->target->kind, Target::Kind::window);
    EXPECT_EQ(r->target->windowID, 42u);
    EXPECT_FALSE(r->target->displayID);
    EXPECT_EQ(r->target->rect, (Rect{1, 2, 3, 4.5}));
    EXPECT_EQ(r->fps, 60);
    EXPECT_EQ(r->showsCursor, false);
    EXPECT_EQ(r->to, (Point{10.5, -3}));
    EXPECT_EQ(r->button, MouseButton::right);
    EXPECT_EQ(r->text, "héllo");
    EXPECT_EQ(r->keys, (std::vector<std::string>{"cmd", "a"}));
    EXPECT_EQ(r->dy, -101);
    EXPECT_EQ(r->pid, 123);
    EXPECT_EQ(r->limit, 5);
    EXPECT_EQ(r->allWindows, true);
    EXPECT_EQ(r->narration, "n");
}

TEST(Request, everyCommandNameDecodesToItsCaseAndNothingElseDoes) {
    for (size_t i = 0; i < commandNames.size(); ++i) {
        auto r = decodeRequest(R"({"cmd":")" + std::string(commandNames[i]) + "\"}");
        ASSERT_TRUE(r) << commandNames[i];
        EXPECT_EQ(static_cast<size_t>(r->cmd), i);
    }
    for (auto line : {R"({"cmd":"list_windows"})", R"({"cmd":"LIST-WINDOWS"})", R"({"cmd":""})", R"({})",
                      R"({"cmd":null})", R"({"cmd":3})", R"(["list-windows"])", "garbage", R"({"cmd":"cursor")"})
        EXPECT_FALSE(decodeRequest(line)) << line;
}

TEST(Request, aFieldOfTheWrongTypeFailsTheWholeRequest) {
    for (auto line : {
             R"({"cmd":"move","to":{"x":"1","y":2}})",
             R"({"cmd":"move","to":{"x":1}})",
             R"({"cmd":"move","to":[1,2]})",
             R"({"cmd":"click","button":"middle"})",
             R"({"cmd":"type","text":5})",
             R"({"cmd":"key","keys":"cmd+a"})",
             R"({"cmd":"key","keys":["a",1]})",
             R"({"cmd":"scroll","dy":1.5})",
             R"({"cmd":"find","pid":4294967296})",
             R"({"cmd":"start","fps":"30"})",
             R"({"cmd":"start","target":{"kind":"screen"}})",
             R"({"cmd":"start","target":{"kind":"window","windowID":-1}})",
             R"({"cmd":"permissions","prompt":"yes"})",
         })
        EXPECT_FALSE(decodeRequest(line)) << line;
}

TEST(Request, unknownKeysAreIgnoredAndWholeFloatsReadAsIntegers) {
    auto r = decodeRequest(R"({"cmd":"scroll","dy":600.0,"extra":{"deep":[1,2]},"pid":null})");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->dy, 600);
    EXPECT_FALSE(r->pid);
}

TEST(Request, numbersThatCannotBeUsedAreRefusedNamingTheField) {
    const std::vector<std::pair<std::string, std::string>> cases{
        {R"({"cmd":"scroll","dy":1e18})", R"("dy" must be a whole number from -2147483648 to 2147483647)"},
        {R"({"cmd":"click","settle":-1e400})", "could not parse request as JSON: number overflow parsing '-1e400'"},
        {R"({"cmd":"start","target":{"kind":"display","rect":{"x":0,"y":0,"width":1e12,"height":1}}})",
         R"(target: rect: "width" must be a number from -2147483647 to 2147483647)"},
    };
    for (const auto& [line, error] : cases) {
        auto decoded = readRequest(line);
        EXPECT_FALSE(decoded.request) << line;
        EXPECT_EQ(decoded.error, error) << line;
    }
    EXPECT_EQ(readRequest(R"({"cmd":"scroll","dy":1.5})").error, unparsableRequest); // the wrong type, as before
    EXPECT_TRUE(readRequest(R"({"cmd":"click","to":{"x":-2147483647,"y":0},"dy":-2147483648})").request);
}

TEST(Response, keysComeInDeclaredOrderAndAbsentOptionalsAreLeftOut) {
    Response cursor;
    cursor.cursor = CursorResult{12.5, 40};
    EXPECT_EQ(answerLine(cursor), R"({"ok":true,"cursor":{"x":12.5,"y":40}})");
    cursor.cursor = CursorResult{517, 433};
    EXPECT_EQ(answerLine(cursor), R"({"ok":true,"cursor":{"x":517,"y":433}})");

    Response windows;
    windows.windows = std::vector<WindowInfo>{{7, "Chromium", 99, "Page", 1, 2, 300, 400}};
    EXPECT_EQ(
        answerLine(windows),
        R"({"ok":true,"windows":[{"windowID":7,"app":"Chromium","pid":99,"title":"Page","x":1,"y":2,"width":300,"height":400}]})");

    Response status;
    status.status = StatusResult{false, std::nullopt, std::nullopt, 0};
    EXPECT_EQ(answerLine(status), R"({"ok":true,"status":{"recording":false,"events":0}})");

    Response account;
    account.account = AccountResult{true, "https://api", std::string("a@b.c"), std::nullopt};
    EXPECT_EQ(answerLine(account),
              R"({"ok":true,"account":{"connected":true,"apiBase":"https://api","email":"a@b.c"}})");

    EXPECT_EQ(answerLine(Response::failure("no recording in progress")),
              R"({"ok":false,"error":"no recording in progress"})");
}

TEST(Response, elementsCarryEveryKeyInOrder) {
    auto element = AXElement::withFrame("AXButton", "Save", 10.7, -2.5, 99.9, 20.2);
    ASSERT_TRUE(element);
    Response r;
    r.elements = std::vector<AXElement>{*element};
    EXPECT_EQ(
        answerLine(r),
        R"({"ok":true,"elements":[{"role":"AXButton","text":"Save","x":10,"y":-2,"width":99,"height":20,"cx":60,"cy":7,"alt":"","identity":"","enabled":true,"inPage":false}]})");
    EXPECT_FALSE(AXElement::withFrame("AXButton", "Huge", 1e19, 0, 1, 1));
    EXPECT_FALSE(AXElement::withFrame("AXButton", "NaN", 0, std::nan(""), 1, 1));
}

TEST(Response, anAnswerThatIsNotValidUTF8BecomesTheFallbackLine) {
    std::ostringstream out;
    emit(Response::failure("bad \xff\xfe bytes"), out);
    EXPECT_EQ(out.str(), std::string(encodeFailureLine) + "\n");
    std::ostringstream good;
    emit(Response::failure("ça va ✓"), good);
    EXPECT_EQ(good.str(), "{\"ok\":false,\"error\":\"ça va ✓\"}\n");
}

TEST(RecorderError, messagesAreWordForWord) {
    EXPECT_STREQ(RecorderError::missingField("to").what(), "missing required field: to");
    EXPECT_STREQ(RecorderError::windowNotFound(4294967295u).what(),
                 "window 4294967295 not found; call list-windows again");
    EXPECT_STREQ(RecorderError::unknownKey("f5").what(), "unknown key: f5");
    EXPECT_STREQ(RecorderError::alreadyRecording().what(), "a recording is already in progress");
    EXPECT_STREQ(RecorderError::notRecording().what(), "no recording in progress");
    EXPECT_STREQ(RecorderError::displayNotFound().what(), "display not found");
    EXPECT_STREQ(
        RecorderError::accessibilityDenied().what(),
        R"(accessibility permission required to post input events; send {"cmd":"permissions","prompt":true} to request it)");
    EXPECT_STREQ(RecorderError::nothingRecorded().what(),
                 "no recording to upload; record one first or pass an explicit path");
    EXPECT_STREQ(RecorderError::drivingItself().what(), "Vanto cannot drive Vanto; name the app the demo is about");
    EXPECT_EQ(RecorderError::notRecording().kind(), RecorderError::Case::notRecording);
}

} // namespace
} // namespace vanto
