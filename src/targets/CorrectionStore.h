#pragma once

#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "targets/Correction.h"

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace vanto {

// The memory of what the person pointed at: (application, phrase) to a correction, kept
// in the user defaults. One store per process; every operation holds its one lock from
// its first read to its last write, so a read-modify-save is whole within the process.
// Other processes share the stored map without coordination: the last save wins.
// Storage problems are never reported and nothing here throws: unreadable data is an
// empty memory, and a write that fails leaves the stored data as it was.
class CorrectionStore {
public:
    // The stored unit. lastUsed is in seconds since 2001-01-01 00:00:00 UTC.
    struct Entry {
        Correction correction;
        double lastUsed = 0;
        bool operator==(const Entry&) const = default;
    };
    using Entries = std::map<std::string, Entry>;

    static constexpr std::string_view defaultsKey = "corrections";
    static constexpr char separator = '\x1f';
    // 90 days: an answer unused for that long is dropped when the map is loaded.
    static constexpr double maxAge = 7'776'000;
    static constexpr std::size_t perApplication = 200;
    static constexpr std::size_t inAll = 5'000;
    // 2001-01-01 00:00:00 UTC in seconds since the Unix epoch: stored dates count from it.
    static constexpr double dateEpoch = 978'307'200;

    CorrectionStore(Defaults& defaults, Clock& clock);
    CorrectionStore(const CorrectionStore&) = delete;
    CorrectionStore& operator=(const CorrectionStore&) = delete;

    // The application's identifier, the separator, then the bare phrase.
    static std::string key(std::string_view app, std::string_view phrase);
    // The part of a key before the first separator.
    static std::string app(std::string_view key);
    // Normalised, without one leading "the ", "a " or "an ": "The Save button" and
    // "save button" are the same phrase.
    static std::string bare(std::string_view phrase);

    // The remembered answer; refreshes its last use in memory and marks it touched.
    std::optional<Correction> lookUp(std::string_view app, std::string_view phrase);
    // Whether there is an answer; nothing else.
    bool knows(std::string_view app, std::string_view phrase);
    void remember(std::string_view app, std::string_view phrase, const Correction& correction);
    void forget(std::string_view app, std::string_view phrase);
    // Every answer of the application.
    void forget(std::string_view app);
    // Every answer of every application, and nothing counts as touched any more.
    void forgetEverything();
    // A run begins: nothing is touched yet, and answers meant for one run are dropped.
    void beginRun();
    // Drops every answer looked up or learned since the run began.
    void forgetThisRun();
    // Stores what memory holds, last uses included; a run does this on its way out.
    void persist();

    // What the memory holds now and the keys this run touched, for showing them.
    Entries entries();
    std::set<std::string> touchedKeys();

    // The stored form: an object from key to {"correction", "lastUsed"}.
    static nlohmann::json encoded(const Entries& entries);
    // Throws DecodeError when any part does not decode.
    static Entries decoded(const nlohmann::json& value);
    // Without the least recently used beyond the bounds per application and in all.
    static Entries trimmed(Entries entries);

private:
    // The in-memory copy, read on first use; the lock is held.
    Entries& loaded();
    // Replaces the in-memory copy and stores it; the lock is held.
    void save(Entries entries);
    double now();

    Defaults& defaults_;
    Clock& clock_;
    std::mutex mutex_;
    std::optional<Entries> entries_;
    std::set<std::string> touched_;
};

} // namespace vanto
