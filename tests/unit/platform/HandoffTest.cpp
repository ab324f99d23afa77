#include "platform/Handoff.h"

#include <gtest/gtest.h>

#include <string>

namespace vanto {
namespace {

TEST(HandoffCodecTest, aRequestSurvivesItsLineAndBadLinesAreRefused) {
    const HandoffRequest sheet{"/home/ana/Demos/the \"tour\" \xC3\xA9t\xC3\xA9.json"};
    auto line = handoff::encode(sheet);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(handoff::decode(line).request, sheet);
    EXPECT_EQ(handoff::encode({}), "{}");
    EXPECT_EQ(handoff::decode("{}").request, HandoffRequest{});
    // A newer launcher's extra keys do not stop an older window.
    EXPECT_EQ(handoff::decode(R"({"sheet":"/s.json","from":"agent"})").request, HandoffRequest{"/s.json"});

    for (const std::string bad : {"", "garbage", "[]", "\"/s.json\"", R"({"sheet":3})", R"({"sheet":null})",
                                  R"({"sheet":""})", R"({"sheet":"Demos/s.json"})", R"({"sheet":"~/s.json"})"}) {
        auto decoded = handoff::decode(bad);
        EXPECT_FALSE(decoded.request) << bad;
        EXPECT_FALSE(decoded.error.empty()) << bad;
    }
    std::string longest = R"({"sheet":"/)" + std::string(handoff::longestLine, 'a') + R"("})";
    EXPECT_FALSE(handoff::decode(longest).request);
}

TEST(HandoffCodecTest, onlyAnAnswerThatSaysOkIsTaken) {
    EXPECT_TRUE(handoff::wasTaken(handoff::taken()));
    EXPECT_FALSE(handoff::wasTaken(handoff::refused("the request is not a JSON object")));
    for (const char* answer : {"", "ok", R"({"ok":"true"})", R"({"ok":1})", "[true]"})
        EXPECT_FALSE(handoff::wasTaken(answer)) << answer;
}

} // namespace
} // namespace vanto
