#include "sheets/TitleCard.h"

#include "base/Text.h"

#include "base/AtomicFile.h"
#include "base/Uuid.h"

#include <vector>

namespace vanto {
namespace {

// Everything but inline styles is forbidden, so the page can never reach out.
constexpr std::string_view head = R"(<!doctype html>
<html>
<head>
  <meta charset="utf-8">
  <meta http-equiv="Content-Security-Policy" content="default-src 'none'; style-src 'unsafe-inline'">
  <style>
    html, body { margin: 0; height: 100%; }
    body { display: flex; align-items: center; justify-content: center; background: #0b0d12; color: #f4f6fb; font-family: -apple-system, "Helvetica Neue", sans-serif; text-align: center; }
    main { padding: 0 8vw; animation: rise 900ms ease-out 300ms both; }
    h1 { font-size: 6vw; line-height: 1.1; margin: 0; letter-spacing: -0.02em; }
    .sub { font-size: 2.4vw; color: #aab2c5; margin: 2.4vw 0 0 0; }
    .cta { font-size: 2vw; color: #5ce1e6; margin: 3.2vw 0 0 0; animation: rise 700ms ease-out 1100ms both; }
    @keyframes rise { from { opacity: 0; transform: translateY(2vw); } to { opacity: 1; transform: none; } }
  </style>
</head>
<body>
  <main>
    )";

constexpr std::string_view tail = "\n  </main>\n</body>\n</html>";

} // namespace

std::string TitleCard::escaped(std::string_view text) {
    return text::escapedHTML(text);
}

std::string TitleCard::html() const {
    std::vector<std::string> lines{"<h1>" + escaped(title) + "</h1>"};
    if (subtitle) lines.push_back("<p class=\"sub\">" + escaped(*subtitle) + "</p>");
    if (callToAction) lines.push_back("<p class=\"cta\">" + escaped(*callToAction) + "</p>");
    std::string page(head);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) page += "\n    ";
        page += lines[i];
    }
    page += tail;
    return page;
}

std::filesystem::path TitleCard::write(const std::filesystem::path& folder, Random& random) const {
    std::filesystem::create_directories(folder);
    auto file = folder / (uuidString(random) + ".html");
    writeAtomically(file, html());
    return file;
}

} // namespace vanto
