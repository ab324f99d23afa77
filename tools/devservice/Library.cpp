#include "Library.h"

#include "Crypto.h"
#include "base/AtomicFile.h"

#include <array>
#include <chrono>
#include <fstream>

namespace vanto::devservice {
namespace fs = std::filesystem;
namespace {

constexpr auto privateFile = fs::perms::owner_read | fs::perms::owner_write;

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

nlohmann::json readJSON(const fs::path& file) {
    std::ifstream in(file);
    if (!in) throw LibraryError(500, "cannot read " + file.filename().string());
    auto document = nlohmann::json::parse(in, nullptr, false);
    if (!document.is_object()) throw LibraryError(500, file.filename().string() + " is damaged");
    return document;
}

void writeJSON(const fs::path& file, const nlohmann::json& document) {
    writeAtomically(file, document.dump(2) + "\n", privateFile);
}

std::optional<std::string> text(const nlohmann::json& body, const char* key) {
    auto it = body.find(key);
    if (it == body.end() || it->is_null()) return std::nullopt;
    if (!it->is_string()) throw LibraryError(400, std::string(key) + " must be a string");
    return it->get<std::string>();
}

std::optional<std::int64_t> whole(const nlohmann::json& body, const char* key) {
    auto it = body.find(key);
    if (it == body.end() || it->is_null()) return std::nullopt;
    if (it->is_number_integer()) return it->get<std::int64_t>();
    if (it->is_number_float()) {
        auto value = it->get<double>();
        if (value == static_cast<double>(static_cast<std::int64_t>(value))) return static_cast<std::int64_t>(value);
    }
    throw LibraryError(400, std::string(key) + " must be a whole number of milliseconds");
}

std::int64_t required(const nlohmann::json& body, const char* key) {
    auto value = whole(body, key);
    if (!value) throw LibraryError(400, std::string(key) + " is required");
    return *value;
}

nlohmann::json newClip(std::int64_t in, std::int64_t out, const std::optional<std::string>& source) {
    nlohmann::json clip = {{"id", "clip_" + randomHex(6)}, {"in_ms", in}, {"out_ms", out}};
    if (source) clip["source_video_id"] = *source;
    return clip;
}

std::int64_t lengthOf(const nlohmann::json& clip) {
    return clip["out_ms"].get<std::int64_t>() - clip["in_ms"].get<std::int64_t>();
}

std::int64_t timelineDuration(const nlohmann::json& record) {
    std::int64_t total = 0;
    for (const auto& clip : record["clips"]) total += lengthOf(clip);
    return total;
}

nlohmann::json clipList(const nlohmann::json& record) {
    return {{"clips", record["clips"]}};
}

std::uint64_t bigEndian(const unsigned char* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) value = (value << 8) | bytes[i];
    return value;
}

} // namespace

bool validID(const std::string& id) {
    if (id.empty() || id.size() > 64) return false;
    for (char c : id)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return false;
    return true;
}

Library::Library(fs::path folder) : folder_(std::move(folder)) {
    createFolders(folder_ / "uploads", fs::perms::owner_all);
    createFolders(folder_ / "videos", fs::perms::owner_all);
}

fs::path Library::uploadFolder(const std::string& session) const {
    return folder_ / "uploads" / session;
}

fs::path Library::videoFolder(const std::string& id) const {
    return folder_ / "videos" / id;
}

std::string Library::initiate(const std::string& account, const nlohmann::json& body) {
    auto filename = text(body, "filename");
    if (!filename || filename->empty()) throw LibraryError(400, "filename is required");
    if (!text(body, "content_type")) throw LibraryError(400, "content_type is required");
    auto clientKey = text(body, "client_key");
    std::lock_guard lock(mutex_);
    if (auto project = text(body, "project_id")) throw LibraryError(400, "no such project: " + *project);
    if (auto footageFor = text(body, "footage_for")) {
        if (!validID(*footageFor) || !fs::exists(videoFolder(*footageFor) / "video.json") ||
            readVideo(*footageFor)["owner"] != account)
            throw LibraryError(400, "footage_for names no video of yours: " + *footageFor);
    }
    if (clientKey && !clientKey->empty()) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder_ / "uploads", error)) {
            auto file = entry.path() / "session.json";
            if (!fs::exists(file)) continue;
            auto session = readJSON(file);
            if (session["owner"] == account && session.value("client_key", "") == *clientKey)
                return session["id"].get<std::string>();
        }
    }
    nlohmann::json session = body;
    session["id"] = "up_" + randomHex(12);
    session["owner"] = account;
    session["created_ms"] = nowMs();
    createFolders(uploadFolder(session["id"]), fs::perms::owner_all);
    writeJSON(uploadFolder(session["id"]) / "session.json", session);
    return session["id"].get<std::string>();
}

nlohmann::json Library::readSession(const std::string& account, const std::string& session) {
    auto file = uploadFolder(session) / "session.json";
    if (!validID(session) || !fs::exists(file)) throw LibraryError(404, "no such upload session");
    auto record = readJSON(file);
    if (record["owner"] != account) throw LibraryError(404, "no such upload session");
    return record;
}

fs::path Library::partFile(const std::string& account, const std::string& session, std::int64_t number) {
    std::lock_guard lock(mutex_);
    readSession(account, session);
    return uploadFolder(session) / ("part-" + std::to_string(number) + ".incoming-" + randomHex(4));
}

std::string Library::acceptPart(const std::string& account, const std::string& session, std::int64_t number,
                                const fs::path& received, const std::string& etag) {
    std::lock_guard lock(mutex_);
    // A keyed upload repeated after its session completed: the parts are already in
    // the video, so this one is only acknowledged.
    if (readSession(account, session).contains("video")) {
        std::error_code ignored;
        fs::remove(received, ignored);
        return etag;
    }
    auto part = uploadFolder(session) / ("part-" + std::to_string(number));
    fs::rename(received, part);
    writeAtomically(part.string() + ".etag", etag, privateFile);
    return etag;
}

std::string Library::complete(const std::string& account, const std::string& session, const nlohmann::json& parts) {
    std::lock_guard lock(mutex_);
    auto record = readSession(account, session);
    if (record.contains("video")) return record["video"].get<std::string>();
    if (!parts.is_array() || parts.empty()) throw LibraryError(400, "parts must list the parts sent");
    std::vector<fs::path> files;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const auto& part = parts[i];
        if (!part.is_object()) throw LibraryError(400, "each part is an object with part_number and etag");
        auto number = whole(part, "part_number");
        auto etag = text(part, "etag");
        if (!number || !etag) throw LibraryError(400, "each part is an object with part_number and etag");
        if (*number != static_cast<std::int64_t>(i) + 1)
            throw LibraryError(400, "parts must be numbered 1, 2, 3 ... in order");
        auto file = uploadFolder(session) / ("part-" + std::to_string(*number));
        std::ifstream stored(file.string() + ".etag");
        std::string storedTag((std::istreambuf_iterator<char>(stored)), std::istreambuf_iterator<char>());
        if (!fs::exists(file) || storedTag.empty())
            throw LibraryError(400, "part " + std::to_string(*number) + " was never sent");
        if (storedTag != *etag)
            throw LibraryError(400, "the etag of part " + std::to_string(*number) + " does not match");
        files.push_back(file);
    }

    const std::string id = "vid_" + randomHex(8);
    createFolders(videoFolder(id), fs::perms::owner_all);
    auto movie = videoFolder(id) / "take.mov";
    auto partial = movie;
    partial += ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        for (const auto& file : files) {
            std::ifstream in(file, std::ios::binary);
            out << in.rdbuf();
        }
        out.flush();
        if (!out) throw LibraryError(500, "cannot assemble the upload");
    }
    fs::rename(partial, movie);

    nlohmann::json video = {
        {"id", id},
        {"owner", account},
        {"filename", record.value("filename", "")},
        {"title", record.value("prompt", "").empty() ? record.value("filename", "") : record.value("prompt", "")},
        {"prompt", record.value("prompt", "")},
        {"mode", record.value("mode", "")},
        {"created_ms", nowMs()},
        {"size", fs::file_size(movie)},
        {"clips", nlohmann::json::array()},
        {"event_count", 0}};
    for (const char* key : {"source", "footage_for"})
        if (record.contains(key)) video[key] = record[key];
    if (auto length = movieDuration(movie); length && *length > 0) {
        video["length_ms"] = *length;
        video["clips"].push_back(newClip(0, *length, std::nullopt));
    }
    writeVideo(video);

    record["video"] = id;
    writeJSON(uploadFolder(session) / "session.json", record);
    for (const auto& file : files) {
        std::error_code ignored;
        fs::remove(file, ignored);
    }
    return id;
}

nlohmann::json Library::readVideo(const std::string& id) {
    return readJSON(videoFolder(id) / "video.json");
}

nlohmann::json Library::ownedVideo(const std::string& account, const std::string& id) {
    if (!validID(id) || !fs::exists(videoFolder(id) / "video.json")) throw LibraryError(404, "no such video");
    auto record = readVideo(id);
    if (record["owner"] != account) throw LibraryError(404, "no such video");
    return record;
}

void Library::writeVideo(const nlohmann::json& record) {
    writeJSON(videoFolder(record["id"]) / "video.json", record);
}

nlohmann::json Library::shown(const nlohmann::json& record) {
    nlohmann::ordered_json out;
    out["id"] = record["id"];
    out["title"] = record["title"];
    out["filename"] = record["filename"];
    out["prompt"] = record["prompt"];
    out["duration_ms"] = timelineDuration(record);
    if (record.contains("length_ms")) out["length_ms"] = record["length_ms"];
    out["size"] = record["size"];
    out["events"] = record.value("event_count", 0);
    for (const char* key : {"source", "footage_for"})
        if (record.contains(key)) out[key] = record[key];
    out["created_ms"] = record["created_ms"];
    out["clips"] = record["clips"];
    return out;
}

nlohmann::json Library::video(const std::string& account, const std::string& id) {
    std::lock_guard lock(mutex_);
    return shown(ownedVideo(account, id));
}

nlohmann::json Library::rename(const std::string& account, const std::string& id, const std::string& title) {
    std::lock_guard lock(mutex_);
    auto record = ownedVideo(account, id);
    record["title"] = title;
    writeVideo(record);
    return shown(record);
}

void Library::storeEvents(const std::string& account, const std::string& id, const nlohmann::json& body) {
    auto duration = required(body, "duration_ms");
    if (duration < 0) throw LibraryError(400, "duration_ms must not be negative");
    auto events = body.find("events");
    if (events == body.end() || !events->is_array()) throw LibraryError(400, "events must be an array");
    for (const auto& event : *events)
        if (!event.is_object()) throw LibraryError(400, "each event is an object");
    std::lock_guard lock(mutex_);
    auto record = ownedVideo(account, id);
    writeJSON(videoFolder(id) / "events.json", {{"duration_ms", duration}, {"events", *events}});
    record["event_count"] = events->size();
    // A file that is no movie has no length of its own: the recorder's word is taken.
    if (!record.contains("length_ms") && duration > 0) {
        record["length_ms"] = duration;
        if (record["clips"].empty()) record["clips"].push_back(newClip(0, duration, std::nullopt));
    }
    writeVideo(record);
}

nlohmann::json Library::events(const std::string& account, const std::string& id) {
    std::lock_guard lock(mutex_);
    ownedVideo(account, id);
    auto file = videoFolder(id) / "events.json";
    if (!fs::exists(file)) return {{"events", nlohmann::json::array()}};
    return readJSON(file);
}

fs::path Library::movie(const std::string& account, const std::string& id) {
    std::lock_guard lock(mutex_);
    ownedVideo(account, id);
    return videoFolder(id) / "take.mov";
}

nlohmann::json Library::clips(const std::string& account, const std::string& id) {
    std::lock_guard lock(mutex_);
    return clipList(ownedVideo(account, id));
}

nlohmann::json Library::timeline(const std::string& account, const std::string& id) {
    std::lock_guard lock(mutex_);
    auto record = ownedVideo(account, id);
    auto placed = nlohmann::json::array();
    std::int64_t at = 0;
    for (auto clip : record["clips"]) {
        clip["at_ms"] = at;
        at += lengthOf(clip);
        placed.push_back(std::move(clip));
    }
    return {{"duration_ms", at}, {"clips", placed}};
}

nlohmann::json Library::insert(const std::string& account, const std::string& id, const nlohmann::json& body) {
    auto source = text(body, "source_video_id");
    if (!source) throw LibraryError(400, "source_video_id is required");
    auto in = whole(body, "in_ms").value_or(0);
    auto out = required(body, "out_ms");
    auto at = required(body, "at_ms");
    auto clientKey = text(body, "client_key").value_or("");
    if (in < 0 || out <= in) throw LibraryError(400, "in_ms must be at least 0 and below out_ms");
    if (at < 0) throw LibraryError(400, "at_ms must not be negative");

    std::lock_guard lock(mutex_);
    auto record = ownedVideo(account, id);
    if (!clientKey.empty() && record.contains("inserts") && record["inserts"].contains(clientKey))
        return record["inserts"][clientKey];
    auto from = *source == id ? record : ownedVideo(account, *source);
    if (from.contains("length_ms") && out > from["length_ms"].get<std::int64_t>())
        throw LibraryError(400, "out_ms is past the end of " + *source);

    auto& clips = record["clips"];
    auto added = newClip(in, out, *source == id ? std::nullopt : std::optional<std::string>(*source));
    std::int64_t position = 0, landed = -1;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        const auto length = lengthOf(clips[i]);
        if (at <= position) {
            clips.insert(clips.begin() + static_cast<std::ptrdiff_t>(i), added);
            landed = position;
            break;
        }
        if (at < position + length) {
            // Inside a clip: it is split where the take goes in.
            auto first = clips[i], second = clips[i];
            const auto cut = clips[i]["in_ms"].get<std::int64_t>() + (at - position);
            first["out_ms"] = cut;
            second["in_ms"] = cut;
            second["id"] = "clip_" + randomHex(6);
            clips[i] = first;
            clips.insert(clips.begin() + static_cast<std::ptrdiff_t>(i) + 1, added);
            clips.insert(clips.begin() + static_cast<std::ptrdiff_t>(i) + 2, second);
            landed = at;
            break;
        }
        position += length;
    }
    if (landed < 0) {
        clips.push_back(added);
        landed = position;
    }
    nlohmann::json answer = {{"at_ms", landed}, {"clip", added}, {"clips", clips}};
    if (!clientKey.empty()) record["inserts"][clientKey] = answer;
    writeVideo(record);
    return answer;
}

nlohmann::json Library::split(const std::string& account, const std::string& id, const std::string& clip,
                              const nlohmann::json& body) {
    auto at = required(body, "at_ms");
    std::lock_guard lock(mutex_);
    auto record = ownedVideo(account, id);
    auto& clips = record["clips"];
    for (std::size_t i = 0; i < clips.size(); ++i) {
        if (clips[i]["id"] != clip) continue;
        const auto in = clips[i]["in_ms"].get<std::int64_t>(), out = clips[i]["out_ms"].get<std::int64_t>();
        if (at <= in || at >= out)
            throw LibraryError(400, "at_ms must fall inside the clip (" + std::to_string(in) + " ... " +
                                        std::to_string(out) + ")");
        auto first = clips[i], second = clips[i];
        first["id"] = "clip_" + randomHex(6);
        first["out_ms"] = at;
        second["id"] = "clip_" + randomHex(6);
        second["in_ms"] = at;
        clips[i] = first;
        clips.insert(clips.begin() + static_cast<std::ptrdiff_t>(i) + 1, second);
        writeVideo(record);
        return {{"clips", nlohmann::json::array({first, second})}};
    }
    throw LibraryError(404, "no such clip");
}

nlohmann::json Library::deleteClip(const std::string& account, const std::string& id, const std::string& clip) {
    std::lock_guard lock(mutex_);
    auto record = ownedVideo(account, id);
    auto& clips = record["clips"];
    for (std::size_t i = 0; i < clips.size(); ++i) {
        if (clips[i]["id"] != clip) continue;
        clips.erase(clips.begin() + static_cast<std::ptrdiff_t>(i));
        writeVideo(record);
        return clipList(record);
    }
    throw LibraryError(404, "no such clip");
}

std::optional<nlohmann::json> Library::publicVideo(const std::string& id) {
    std::lock_guard lock(mutex_);
    if (!validID(id) || !fs::exists(videoFolder(id) / "video.json")) return std::nullopt;
    return shown(readVideo(id));
}

std::optional<fs::path> Library::publicMovie(const std::string& id) {
    std::lock_guard lock(mutex_);
    if (!validID(id) || !fs::exists(videoFolder(id) / "take.mov")) return std::nullopt;
    return videoFolder(id) / "take.mov";
}

std::optional<std::int64_t> Library::movieDuration(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::error_code error;
    const auto size = fs::file_size(file, error);
    if (error) return std::nullopt;

    // Boxes: 32-bit size (1: a 64-bit size follows; 0: to the end) and a type.
    using Box = std::pair<std::uint64_t, std::uint64_t>; // where its content starts, where it ends
    auto walk = [&](std::uint64_t from, std::uint64_t to, const char* wanted) -> std::optional<Box> {
        for (std::uint64_t at = from; at + 8 <= to;) {
            std::array<unsigned char, 16> head{};
            in.clear();
            in.seekg(static_cast<std::streamoff>(at));
            if (!in.read(reinterpret_cast<char*>(head.data()), 8)) return std::nullopt;
            std::uint64_t length = bigEndian(head.data(), 4);
            std::uint64_t headerSize = 8;
            if (length == 1) {
                if (!in.read(reinterpret_cast<char*>(head.data() + 8), 8)) return std::nullopt;
                length = bigEndian(head.data() + 8, 8);
                headerSize = 16;
            } else if (length == 0) {
                length = to - at;
            }
            if (length < headerSize || length > to - at) return std::nullopt;
            if (std::string(reinterpret_cast<char*>(head.data() + 4), 4) == wanted)
                return Box{at + headerSize, at + length};
            at += length;
        }
        return std::nullopt;
    };
    auto moov = walk(0, size, "moov");
    if (!moov) return std::nullopt;
    auto mvhd = walk(moov->first, moov->second, "mvhd");
    if (!mvhd || mvhd->second - mvhd->first < 32) return std::nullopt;
    std::array<unsigned char, 32> header{};
    in.clear();
    in.seekg(static_cast<std::streamoff>(mvhd->first));
    if (!in.read(reinterpret_cast<char*>(header.data()), 32)) return std::nullopt;
    std::uint64_t timescale = 0, duration = 0;
    if (header[0] == 1) {
        timescale = bigEndian(header.data() + 20, 4);
        duration = bigEndian(header.data() + 24, 8);
    } else {
        timescale = bigEndian(header.data() + 12, 4);
        duration = bigEndian(header.data() + 16, 4);
    }
    if (timescale == 0 || duration == 0 || duration == 0xffffffffu) return std::nullopt;
    return static_cast<std::int64_t>(duration * 1000 / timescale);
}

} // namespace vanto::devservice
