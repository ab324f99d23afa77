#include "platform/linux/LinuxResolver.h"
#include "cloud/CloudGuard.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

// The system's lookup behind the guard: local names resolve from the hosts file, so
// this needs no network.
TEST(LinuxResolver, givesNumericAddressesOrNothing) {
    LinuxResolver resolver;
    auto local = resolver.addresses("localhost");
    ASSERT_FALSE(local.empty());
    for (const auto& text : local) EXPECT_TRUE(text == "127.0.0.1" || text == "::1") << text;

    EXPECT_EQ(resolver.addresses("192.0.2.7"), (std::vector<std::string>{"192.0.2.7"}));
    EXPECT_EQ(resolver.addresses("::ffff:10.0.0.1"), (std::vector<std::string>{"::ffff:10.0.0.1"}));
    EXPECT_TRUE(resolver.addresses("name-that-cannot-exist.invalid").empty());
    EXPECT_TRUE(resolver.addresses("").empty());
}

TEST(LinuxResolver, servesAsTheGuardsLookup) {
    LinuxResolver resolver;
    auto resolve = CloudGuard::resolve(resolver);
    EXPECT_EQ(resolve("192.0.2.7"), resolver.addresses("192.0.2.7"));
    EXPECT_EQ(resolve("localhost"), resolver.addresses("localhost"));
}

} // namespace
} // namespace vanto
