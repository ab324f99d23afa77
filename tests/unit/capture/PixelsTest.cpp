#include "capture/Pixels.h"
#include "platform/fake/FakeCapture.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace vanto {
namespace {

std::vector<std::uint8_t> changed(std::vector<std::uint8_t> bytes, int count, int by) {
    for (int i = 0; i < count; ++i) {
        auto& byte = bytes[static_cast<std::size_t>(i * 7)];
        byte = static_cast<std::uint8_t>(byte + by);
    }
    return bytes;
}

TEST(PixelsDiffer, countsPixelsThatChangedByThreeOrMore) {
    const std::vector<std::uint8_t> base(576, 40);
    EXPECT_FALSE(Pixels::differ(base, changed(base, 2, 200)));
    EXPECT_TRUE(Pixels::differ(base, changed(base, 3, 3)));
    EXPECT_FALSE(Pixels::differ(base, changed(base, 2, 3)));
    EXPECT_FALSE(Pixels::differ(base, changed(base, 82, 2))); // any number of bytes by 2
    EXPECT_FALSE(Pixels::differ(base, base));
    EXPECT_FALSE(Pixels::differ({}, {}));
    EXPECT_FALSE(Pixels::differ({}, base));
    EXPECT_FALSE(Pixels::differ(base, std::vector<std::uint8_t>(575, 255)));
    // Downwards counts too.
    EXPECT_TRUE(Pixels::differ(changed(base, 3, 3), base));
}

class PixelsTest : public testing::Test {
protected:
    PixelsTest() {
        clock.setAutoAdvance(false);
        capture.addWindow(5, {10, 20, 640, 420});
    }
    fake::VirtualClock clock;
    fake::FakeScreenCapture capture;
    Pixels pixels{capture, clock};
};

TEST_F(PixelsTest, theWindowLookupIsTrustedForThreeSeconds) {
    ASSERT_TRUE(pixels.fingerprint(5));
    clock.advance(1);
    ASSERT_TRUE(pixels.fingerprint(5));
    EXPECT_EQ(capture.contentQueries(), 1);
    clock.advance(3);
    ASSERT_TRUE(pixels.fingerprint(5));
    EXPECT_EQ(capture.contentQueries(), 2);
    // Another window needs a lookup of its own, and an unknown one keeps the cache.
    EXPECT_FALSE(pixels.fingerprint(6));
    EXPECT_EQ(capture.contentQueries(), 3);
    ASSERT_TRUE(pixels.fingerprint(5));
    EXPECT_EQ(capture.contentQueries(), 3);
}

TEST_F(PixelsTest, aFingerprintIs576LinearGreyBytesCapturedAt24Square) {
    capture.paint = [](const ContentFilter&, const StreamConfiguration& c) {
        CapturedImage image{c.width, c.height,
                            std::vector<std::uint8_t>(static_cast<std::size_t>(c.width * c.height) * 4)};
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                auto* p = &image.bgra[static_cast<std::size_t>((y * c.width + x) * 4)];
                const std::uint8_t v = x < c.width / 2 ? 255 : (y == 0 ? 128 : 0);
                p[0] = p[1] = p[2] = v;
                p[3] = 255;
            }
        return image;
    };
    auto print = pixels.fingerprint(5);
    ASSERT_TRUE(print);
    ASSERT_EQ(print->size(), 576u);
    EXPECT_EQ((*print)[0], 255);     // white stays white
    EXPECT_EQ((*print)[12], 55);     // sRGB 128 is 21.6 % of the light
    EXPECT_EQ((*print)[24 + 12], 0); // black
    EXPECT_EQ((*print)[575], 0);
    auto configurations = capture.imageConfigurations();
    ASSERT_EQ(configurations.size(), 1u);
    EXPECT_EQ(configurations[0].width, 24);
    EXPECT_EQ(configurations[0].height, 24);
    EXPECT_FALSE(configurations[0].showsCursor);
}

TEST_F(PixelsTest, aPictureLargerThan24IsDrawnDownByNearestPixel) {
    CapturedImage image{48, 48, std::vector<std::uint8_t>(48 * 48 * 4, 0)};
    for (int x = 0; x < 48; x += 2) image.bgra[static_cast<std::size_t>(x * 4 + 1)] = 255; // green on even columns
    auto grey = Pixels::linearGrey(image);
    EXPECT_EQ(grey[0], 182); // 0.7152 of the light
    EXPECT_EQ(grey[1], 182);
    EXPECT_EQ(grey[24], 0); // second row was black
    EXPECT_EQ(Pixels::linearGrey(CapturedImage{}), std::vector<std::uint8_t>(576, 0));
}

TEST_F(PixelsTest, pngsAreScaledDownToTheWidthButNeverUp) {
    auto png = pixels.png(5, std::nullopt, 2000);
    ASSERT_TRUE(png);
    ASSERT_GT(png->size(), 8u);
    EXPECT_EQ(std::vector<std::uint8_t>(png->begin(), png->begin() + 8),
              (std::vector<std::uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    auto crop = pixels.png(5, RectD{100, 40, 300, 201}, 150);
    ASSERT_TRUE(crop);
    auto configurations = capture.imageConfigurations();
    ASSERT_EQ(configurations.size(), 2u);
    EXPECT_EQ(configurations[0].width, 640);
    EXPECT_EQ(configurations[0].height, 420);
    EXPECT_EQ(configurations[0].sourceRect, (RectD{0, 0, 640, 420}));
    EXPECT_EQ(configurations[1].width, 150);
    EXPECT_EQ(configurations[1].height, 100); // whole part of 100.5
    EXPECT_EQ(configurations[1].sourceRect, (RectD{100, 40, 300, 201}));
    EXPECT_FALSE(configurations[1].showsCursor);
}

TEST_F(PixelsTest, everyFailureGivesNoPicture) {
    EXPECT_FALSE(pixels.png(9, std::nullopt, 100));
    capture.imageFailure = CaptureFailure{"not permitted", "X11Capture", 3};
    EXPECT_FALSE(pixels.fingerprint(5));
    EXPECT_FALSE(pixels.png(5, std::nullopt, 100));
    capture.imageFailure.reset();
    capture.pngFails = true;
    EXPECT_FALSE(pixels.png(5, std::nullopt, 100));
    EXPECT_FALSE(pixels.png(5, std::nullopt, 0)); // nothing to encode
    capture.pngFails = false;

    // A call abandoned at its deadline runs on: it must have reached the fake before the
    // flag changes or the fake goes (on a busy machine its thread starts late).
    auto reached = [](auto count, int before) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (count() == before && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    capture.hangImage = true;
    {
        const int before = capture.imageCaptures();
        std::jthread advancer([&] {
            clock.waitForSleepers(1);
            clock.advance(2);
        });
        EXPECT_FALSE(pixels.fingerprint(5));
        reached([&] { return capture.imageCaptures(); }, before);
    }
    capture.hangImage = false;
    clock.advance(5); // the cache is stale now
    capture.hangContent = true;
    {
        const int before = capture.contentQueries();
        std::jthread advancer([&] {
            clock.waitForSleepers(1);
            clock.advance(2);
        });
        EXPECT_FALSE(pixels.fingerprint(5));
        reached([&] { return capture.contentQueries(); }, before);
    }
    capture.hangContent = false;
    capture.contentFailure = CaptureFailure{"no display", "X11Capture", 4};
    EXPECT_FALSE(pixels.fingerprint(5));
}

} // namespace
} // namespace vanto
