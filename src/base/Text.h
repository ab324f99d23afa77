#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vanto::text {

// Removes spaces, tabs and the other Unicode space separators from both ends, but
// not line breaks. Text that is not valid UTF-8 is trimmed of ASCII spaces and tabs only.
std::string trimSpaces(std::string_view text);

// Removes white space and line breaks (every Unicode space and line or paragraph
// separator, tab to carriage return, next line) from both ends. Text that is not
// valid UTF-8 is trimmed of the ASCII ones only.
std::string trimWhitespaceAndNewlines(std::string_view text);

bool isValidUTF8(std::string_view text);

// Upper and lower case for ASCII letters, which is all option values need.
std::string asciiLower(std::string_view text);

// The text with every control character (C0, DEL, C1) and every byte that is not UTF-8
// written as a visible escape ("\x1b", "\u009b"), so that text from a file cannot move
// the cursor, recolour or rewrite a terminal, or split a log line.
std::string escapedControls(std::string_view text);

// The text between two double-quote characters, as log lines name things.
std::string quoted(std::string_view text);

// The first count characters (code points) of UTF-8 text, never cutting one in two.
std::string firstCharacters(std::string_view text, std::size_t count);

// The text with & < > " ' written as HTML entities, safe inside elements and quoted attributes.
std::string escapedHTML(std::string_view text);

} // namespace vanto::text
