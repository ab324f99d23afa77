#include "sheets/TitleCard.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace vanto {
namespace {

namespace fs = std::filesystem;

std::string bodyOf(const std::string& page) {
    auto open = page.find("<main>\n    ");
    auto close = page.find("\n  </main>\n</body>\n</html>");
    EXPECT_NE(open, std::string::npos);
    EXPECT_NE(close, std::string::npos);
    if (open == std::string::npos || close == std::string::npos) return "";
    open += std::string("<main>\n    ").size();
    return page.substr(open, close - open);
}

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TEST(TitleCard, escapesTheFiveSpecialCharacters) {
    EXPECT_EQ(TitleCard::escaped(R"(<b>Tom & "Jerry's"</b>)"), "&lt;b&gt;Tom &amp; &quot;Jerry&#39;s&quot;&lt;/b&gt;");
    EXPECT_EQ(TitleCard::escaped("&amp;"), "&amp;amp;"); // escaped text is not taken as an entity
    EXPECT_EQ(TitleCard::escaped("Grüße → 日本"), "Grüße → 日本");
    EXPECT_EQ(TitleCard::escaped(""), "");
}

TEST(TitleCard, aBoldTagInTheTitleIsShownNotApplied) {
    auto page = TitleCard{"Meet <b>Vanto</b>", std::nullopt, std::nullopt}.html();
    EXPECT_EQ(bodyOf(page), "<h1>Meet &lt;b&gt;Vanto&lt;/b&gt;</h1>");
    EXPECT_EQ(page.find("<b>"), std::string::npos);
}

TEST(TitleCard, bodyLinesFollowWhatIsPresent) {
    EXPECT_EQ(bodyOf(TitleCard{"Only", std::nullopt, std::nullopt}.html()), "<h1>Only</h1>");
    EXPECT_EQ(bodyOf(TitleCard{"T", "Sub", "Go"}.html()),
              "<h1>T</h1>\n    <p class=\"sub\">Sub</p>\n    <p class=\"cta\">Go</p>");
    // An empty subtitle still gets its line; a call to action alone goes right after the heading.
    EXPECT_EQ(bodyOf(TitleCard{"T", "", std::nullopt}.html()), "<h1>T</h1>\n    <p class=\"sub\"></p>");
    EXPECT_EQ(bodyOf(TitleCard{"T", std::nullopt, "Try it"}.html()), "<h1>T</h1>\n    <p class=\"cta\">Try it</p>");
    EXPECT_EQ(bodyOf(TitleCard{"T", "<i>", "a&b"}.html()),
              "<h1>T</h1>\n    <p class=\"sub\">&lt;i&gt;</p>\n    <p class=\"cta\">a&amp;b</p>");
}

TEST(TitleCard, theHeadForbidsEverythingButInlineStyles) {
    auto page = TitleCard{"T", "S", "C"}.html();
    EXPECT_TRUE(page.starts_with("<!doctype html>\n<html>\n<head>\n")) << page;
    EXPECT_TRUE(page.ends_with("</p>\n  </main>\n</body>\n</html>")) << page;
    EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(page.find("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src "
                        "'unsafe-inline'\">"),
              std::string::npos);
    // Self-contained: one style sheet, no script, nothing fetched.
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("http://"), std::string::npos);
    EXPECT_EQ(page.find("https://"), std::string::npos);
    EXPECT_EQ(page.find("url("), std::string::npos);
    EXPECT_EQ(page.find("<style>"), page.rfind("<style>"));
    for (const char* rule : {
             "html, body { margin: 0; height: 100%; }",
             "background: #0b0d12; color: #f4f6fb; font-family: -apple-system, \"Helvetica Neue\", sans-serif; "
             "text-align: center;",
             "main { padding: 0 8vw; animation: rise 900ms ease-out 300ms both; }",
             "h1 { font-size: 6vw; line-height: 1.1; margin: 0; letter-spacing: -0.02em; }",
             ".sub { font-size: 2.4vw; color: #aab2c5; margin: 2.4vw 0 0 0; }",
             ".cta { font-size: 2vw; color: #5ce1e6; margin: 3.2vw 0 0 0; animation: rise 700ms ease-out 1100ms both; "
             "}",
             "@keyframes rise { from { opacity: 0; transform: translateY(2vw); } to { opacity: 1; transform: none; } }",
         })
        EXPECT_NE(page.find(rule), std::string::npos) << rule;
}

TEST(TitleCard, writesEachCardUnderAFreshUpperCaseName) {
    fake::SeededRandom random(7);
    auto folder = fs::temp_directory_path() / "vanto-title-cards-test" / "nested" / "cards";
    fs::remove_all(folder.parent_path().parent_path());
    TitleCard card{"Hello", "world", std::nullopt};
    auto first = card.write(folder, random);
    auto second = card.write(folder, random);
    EXPECT_NE(first, second);
    EXPECT_EQ(first.parent_path(), folder);
    const std::regex name("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\.html");
    EXPECT_TRUE(std::regex_match(first.filename().string(), name)) << first;
    EXPECT_TRUE(std::regex_match(second.filename().string(), name)) << second;
    EXPECT_EQ(contents(first), card.html());
    // Only the two pages: no temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);

    // A folder that cannot be made is an error, not a silent loss of the card.
    auto blocker = folder / "not-a-folder";
    std::ofstream(blocker) << "x";
    EXPECT_THROW(card.write(blocker / "cards", random), fs::filesystem_error);
    fs::remove_all(folder.parent_path().parent_path());
}

} // namespace
} // namespace vanto
