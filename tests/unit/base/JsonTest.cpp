#include "base/Json.h"
#include "base/Uuid.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <set>

namespace vanto {
namespace {

TEST(JsonReaders, wholeNumbersAreCheckedAgainstTheirType) {
    auto j = nlohmann::json::parse(R"({"a":3.0,"b":3.5,"c":-1,"d":4294967295,"e":2147483648,"f":1e300,"g":"7"})");
    EXPECT_EQ(json::optionalInt(j, "a"), 3);
    EXPECT_THROW(json::optionalInt(j, "b"), DecodeError);
    EXPECT_THROW(json::optionalUInt32(j, "c"), DecodeError);
    EXPECT_EQ(json::optionalUInt32(j, "d"), 4294967295u);
    EXPECT_THROW(json::optionalInt32(j, "e"), DecodeError);
    EXPECT_THROW(json::optionalInt(j, "f"), DecodeError);
    EXPECT_THROW(json::optionalInt(j, "g"), DecodeError);
    EXPECT_EQ(json::optionalInt(j, "missing"), std::nullopt);
    EXPECT_EQ(json::wholeNumber(nlohmann::json(9223372036854775807LL), 0, 9223372036854775807LL),
              9223372036854775807LL);
    EXPECT_EQ(json::wholeNumber(nlohmann::json(9223372036854775808.0), 0, 9223372036854775807LL), std::nullopt);
}

TEST(JsonWriting, wholeNumbersAreWrittenWithoutAFraction) {
    nlohmann::ordered_json value{
        {"x", 517.0},   {"y", 433.5}, {"list", {2.0, -0.0, -7.0}}, {"nested", {{"t", 9007199254740992.0}}},
        {"big", 1e300}, {"n", 3}};
    EXPECT_EQ(json::written(value),
              R"({"x":517,"y":433.5,"list":[2,0,-7],"nested":{"t":9007199254740992},"big":1e+300,"n":3})");
    // Beyond 2^53 a double no longer holds every whole number; it stays a double.
    EXPECT_EQ(json::written(nlohmann::json(18014398509481988.0)), "1.8014398509481988e+16");
}

TEST(JsonReaders, requiredAndTypedValues) {
    auto j = nlohmann::json::parse(R"({"s":"x","n":null,"b":1,"arr":["a","b"],"o":{}})");
    EXPECT_EQ(json::requireString(j, "s"), "x");
    EXPECT_THROW(json::requireString(j, "n"), DecodeError);
    EXPECT_THROW(json::requireString(j, "nope"), DecodeError);
    EXPECT_THROW(json::optionalBool(j, "b"), DecodeError);
    EXPECT_EQ(json::optionalStrings(j, "arr"), (std::vector<std::string>{"a", "b"}));
    EXPECT_NE(json::optionalObject(j, "o"), nullptr);
    EXPECT_THROW(json::optionalObject(j, "s"), DecodeError);
    EXPECT_THROW(json::requireObject(nlohmann::json::array(), "a request"), DecodeError);
}

TEST(Uuid, isUpperCaseVersion4AndFresh) {
    fake::SeededRandom random(99);
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        auto id = uuidString(random);
        ASSERT_EQ(id.size(), 36u);
        EXPECT_EQ(id[8], '-');
        EXPECT_EQ(id[13], '-');
        EXPECT_EQ(id[14], '4');
        EXPECT_TRUE(id[19] == '8' || id[19] == '9' || id[19] == 'A' || id[19] == 'B') << id;
        for (char c : id) EXPECT_FALSE(c >= 'a' && c <= 'z') << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100u);
}

} // namespace
} // namespace vanto
