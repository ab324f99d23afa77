#include "agent/DesktopEntry.h"

#include "base/Text.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <system_error>
#include <utility>

namespace vanto {
namespace {

// A value's escapes: \s, \n, \t, \r and \\ (the only ones a string value may hold).
std::string unescaped(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            out += '\\', out += value[i];
        }
    }
    return out;
}

std::string fileText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

std::optional<DesktopEntry> DesktopEntry::parse(std::string_view text, std::string id) {
    DesktopEntry entry;
    entry.id = std::move(id);
    std::string type;
    bool hidden = false;
    bool inGroup = false;
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inGroup) continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        const auto key = text::trimSpaces(std::string_view(line).substr(0, equals));
        const auto value = unescaped(text::trimSpaces(std::string_view(line).substr(equals + 1)));
        // Translated keys (Name[de]) are different keys and are not read.
        if (key == "Name")
            entry.name = value;
        else if (key == "Exec")
            entry.exec = value;
        else if (key == "StartupWMClass")
            entry.wmClass = value;
        else if (key == "Type")
            type = value;
        else if (key == "Hidden")
            hidden = value == "true";
    }
    if (type != "Application" || hidden || entry.name.empty() || entry.exec.empty()) return std::nullopt;
    return entry;
}

std::optional<std::vector<std::string>> DesktopEntry::command(std::string_view exec) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < exec.size() &&
                       std::string_view("\"`$\\").find(exec[i + 1]) != std::string_view::npos) {
                word += exec[++i];
            } else {
                word += c;
            }
            continue;
        }
        if (c == ' ' || c == '\t') {
            if (inWord) words.push_back(std::exchange(word, {}));
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '"') {
            quoted = true;
        } else if (c == '%' && i + 1 < exec.size()) {
            // "%%" is a percent sign; every other field code stands for files, addresses,
            // an icon or a name that a plain launch does not pass, and goes.
            if (exec[++i] == '%') word += '%';
        } else {
            word += c;
        }
    }
    if (quoted) return std::nullopt;
    if (inWord) words.push_back(word);
    // A word that was only a field code is gone, not an empty argument.
    std::erase_if(words, [](const std::string& w) { return w.empty(); });
    if (words.empty()) return std::nullopt;
    return words;
}

std::vector<std::filesystem::path> DesktopEntry::searchPlaces(Processes& processes, Paths& paths) {
    std::vector<std::filesystem::path> places;
    const auto home = processes.environment("XDG_DATA_HOME");
    places.push_back((home && !home->empty() ? std::filesystem::path(*home) : paths.home() / ".local" / "share") /
                     "applications");
    auto dirs = processes.environment("XDG_DATA_DIRS");
    if (!dirs || dirs->empty()) dirs = "/usr/local/share:/usr/share";
    std::istringstream list(*dirs);
    std::string dir;
    while (std::getline(list, dir, ':'))
        if (!dir.empty()) places.push_back(std::filesystem::path(dir) / "applications");
    return places;
}

std::optional<DesktopEntry> DesktopEntry::installedApplication(std::string_view matching,
                                                               const std::vector<std::filesystem::path>& in) {
    const auto wanted = text::asciiLower(text::trimSpaces(matching));
    if (wanted.empty()) return std::nullopt;
    std::set<std::string> seen;
    for (const auto& folder : in) {
        std::error_code error;
        std::vector<std::filesystem::path> files;
        for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
            if (it->path().extension() == ".desktop") files.push_back(it->path());
        // Directory order is the file system's whim; the same desktop gives the same answer.
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            auto relative = file.lexically_relative(folder).replace_extension().generic_string();
            std::replace(relative.begin(), relative.end(), '/', '-');
            if (!seen.insert(relative).second) continue;
            auto entry = parse(fileText(file), relative);
            if (!entry) continue;
            if (text::asciiLower(entry->name) == wanted || text::asciiLower(entry->id) == wanted ||
                (!entry->wmClass.empty() && text::asciiLower(entry->wmClass) == wanted))
                return entry;
        }
    }
    return std::nullopt;
}

} // namespace vanto
