#include "platform/linux/LinuxExtendedAttributes.h"

#include <gtest/gtest.h>

#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using vanto::LinuxExtendedAttributes;

// What a browser leaves on a download is seen; what is not there, or has no namespace on
// Linux, is not; a file that is gone cannot be judged.
TEST(LinuxExtendedAttributes, SeesTheMarkABrowserLeavesOnADownload) {
    const fs::path file = fs::temp_directory_path() / ("vanto-xattr-" + std::to_string(::getpid()) + ".json");
    std::ofstream(file) << "{}";
    const std::string origin = "https://example.test/demo.json";
    if (::setxattr(file.c_str(), "user.xdg.origin.url", origin.data(), origin.size(), 0) != 0) {
        fs::remove(file);
        GTEST_SKIP() << "this file system keeps no user attributes";
    }
    LinuxExtendedAttributes attributes;
    EXPECT_EQ(attributes.has(file, "user.xdg.origin.url"), true);
    EXPECT_EQ(attributes.has(file, "user.xdg.referrer.url"), false);
    EXPECT_EQ(attributes.has(file, "com.apple.quarantine"), false);
    fs::remove(file);
    EXPECT_EQ(attributes.has(file, "user.xdg.origin.url"), std::nullopt);
}
