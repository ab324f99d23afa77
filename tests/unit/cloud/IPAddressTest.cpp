#include "cloud/IPAddress.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <array>
#include <cstring>
#include <string>

namespace vanto {
namespace {

std::vector<std::uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

bool isPublic(const char* text) {
    auto address = IPAddress::fromText(text);
    EXPECT_TRUE(address) << text;
    return address && address->isPublic();
}

TEST(IPAddress, readsBothFamiliesDropsZonesAndUnmapsIPv4) {
    EXPECT_EQ(IPAddress::fromText("10.0.0.1")->bytes(), bytes({10, 0, 0, 1}));
    auto loopback = IPAddress::fromText("::1");
    ASSERT_TRUE(loopback);
    EXPECT_FALSE(loopback->isV4());
    EXPECT_EQ(loopback->bytes(), bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(IPAddress::fromText("fe80::1%en0")->bytes(), IPAddress::fromText("fe80::1")->bytes());
    EXPECT_EQ(IPAddress::fromText("fe80::1%25en0")->bytes(), IPAddress::fromText("fe80::1")->bytes());
    auto mapped = IPAddress::fromText("::ffff:10.0.0.1");
    ASSERT_TRUE(mapped);
    EXPECT_TRUE(mapped->isV4());
    EXPECT_EQ(mapped->bytes(), bytes({10, 0, 0, 1}));
    EXPECT_EQ(IPAddress::fromText("::FFFF:0a00:0001")->bytes(), bytes({10, 0, 0, 1}));
    for (const char* text : {"", "localhost", "127.1", "0x7f.0.0.1", "2130706433", "010.0.0.1", "1.2.3.4.", "256.0.0.1",
                             "1.2.3", ":::", "1::2::3", "12345::", "%en0"})
        EXPECT_FALSE(IPAddress::fromText(text)) << text;
}

// Our reading must agree with the system's, which the browser also relies on.
TEST(IPAddress, agreesWithTheSystemsConversion) {
    const char* texts[] = {
        "0.0.0.0",
        "1.2.3.4",
        "255.255.255.255",
        "256.1.1.1",
        "01.2.3.4",
        "1.2.3",
        "1.2.3.4.5",
        "1..2.3",
        ".1.2.3",
        "1.2.3.",
        " 1.2.3.4",
        "1.2.3.4 ",
        "0x1.2.3.4",
        "1.2.3.04",
        "00.0.0.0",
        "1.2.3.4%x",
        "::",
        "::1",
        "1::",
        "1:2:3:4:5:6:7:8",
        "1:2:3:4:5:6:7:8:9",
        "1:2:3:4:5:6:7::",
        "::2:3:4:5:6:7:8",
        "1:2:3:4:5:6:7::8",
        "1::2:3::4",
        ":1::",
        "1:::2",
        ":",
        ":::",
        "1:",
        ":1",
        "fe80::1",
        "FE80::ABCD",
        "12345::",
        "1:2:3:4:5:6:1.2.3.4",
        "::1.2.3.4",
        "::ffff:1.2.3.4",
        "1:2:3:4:5:6:7:1.2.3.4",
        "::1.2.3",
        "::1.2.3.4.5",
        "::256.1.2.3",
        "::01.2.3.4",
        "1.2.3.4::",
        "::ffff:1.2.3.4:5",
        "g::",
        "0:0:0:0:0:0:0:0",
        "0000:0000:0000:0000:0000:0000:0000:0001",
        "00000::1",
        "1::1.2.3.4",
        "::1:1.2.3.4",
        "1:2:3:4:5:6:7:8::",
        "::1:2:3:4:5:6:7",
        "::1:2:3:4:5:6:7:8",
        "64:ff9b::1.2.3.4",
        "",
    };
    for (const char* text : texts) {
        std::array<std::uint8_t, 4> v4{};
        std::array<std::uint8_t, 16> v6{};
        bool systemV4 = inet_pton(AF_INET, text, v4.data()) == 1;
        bool systemV6 = inet_pton(AF_INET6, text, v6.data()) == 1;
        auto ours4 = IPAddress::parseV4(text);
        auto ours6 = IPAddress::parseV6(text);
        EXPECT_EQ(bool(ours4), systemV4) << text;
        EXPECT_EQ(bool(ours6), systemV6) << text;
        if (ours4 && systemV4) {
            EXPECT_EQ(*ours4, std::vector<std::uint8_t>(v4.begin(), v4.end())) << text;
        }
        if (ours6 && systemV6) {
            EXPECT_EQ(*ours6, std::vector<std::uint8_t>(v6.begin(), v6.end())) << text;
        }
    }
}

TEST(IPAddress, publicIPv4) {
    for (const char* text : {"0.1.2.3", "10.0.0.1", "10.255.255.255", "127.0.0.1", "100.64.0.0", "100.127.255.255",
                             "169.254.1.1", "172.16.0.1", "172.31.255.255", "192.168.1.1", "192.0.0.8", "198.18.0.1",
                             "198.19.255.255", "224.0.0.1", "239.1.1.1", "255.255.255.255"})
        EXPECT_FALSE(isPublic(text)) << text;
    for (const char* text : {"1.1.1.1", "9.255.255.255", "11.0.0.0", "100.63.255.255", "100.128.0.1", "169.1.1.1",
                             "169.253.1.1", "172.15.255.255", "172.32.0.1", "192.0.1.1", "192.0.2.1", "192.169.0.1",
                             "198.17.0.1", "198.20.0.1", "223.255.255.255", "126.255.255.255", "128.0.0.1"})
        EXPECT_TRUE(isPublic(text)) << text;
}

TEST(IPAddress, publicIPv6) {
    for (const char* text : {"::", "::1", "fe80::1", "febf:ffff::1", "fc00::1", "fd12:3456::1", "ff02::1",
                             "64:ff9b::a00:1", "::ffff:192.168.0.1", "::ffff:127.0.0.1"})
        EXPECT_FALSE(isPublic(text)) << text;
    for (const char* text : {"2001:db8::1", "2606:4700::1111", "fec0::1", "fe7f::1", "::2", "64:ff9b:1::1", "fb00::1",
                             "::ffff:8.8.8.8", "fe00::1"})
        EXPECT_TRUE(isPublic(text)) << text;
}

} // namespace
} // namespace vanto
