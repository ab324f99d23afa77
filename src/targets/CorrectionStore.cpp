#include "targets/CorrectionStore.h"

#include "base/Json.h"
#include "targets/AXRanking.h"

#include <algorithm>
#include <exception>
#include <initializer_list>
#include <utility>
#include <vector>

namespace vanto {
namespace {

// A key with its last use; sorted, the least recently used come first (ties by key, so
// that trimming is the same on every run).
using Aged = std::pair<double, std::string>;

void keepNewest(CorrectionStore::Entries& entries, std::vector<Aged> keys, std::size_t keep) {
    if (keys.size() <= keep) return;
    std::sort(keys.begin(), keys.end());
    for (std::size_t i = 0; i < keys.size() - keep; ++i) entries.erase(keys[i].second);
}

} // namespace

CorrectionStore::CorrectionStore(Defaults& defaults, Clock& clock) : defaults_(defaults), clock_(clock) {}

std::string CorrectionStore::key(std::string_view app, std::string_view phrase) {
    return std::string(app) + separator + bare(phrase);
}

std::string CorrectionStore::app(std::string_view key) {
    return std::string(key.substr(0, key.find(separator)));
}

std::string CorrectionStore::bare(std::string_view phrase) {
    auto text = AXRanking::normalise(phrase);
    for (std::string_view article : {"the ", "a ", "an "})
        if (text.starts_with(article)) return text.substr(article.size());
    return text;
}

std::optional<Correction> CorrectionStore::lookUp(std::string_view app, std::string_view phrase) {
    std::lock_guard lock(mutex_);
    auto& entries = loaded();
    auto found = entries.find(key(app, phrase));
    if (found == entries.end()) return std::nullopt;
    // Only a key with an answer counts as touched: forgetting what a run taught has
    // nothing to remove for the others, so they must not make that offer appear.
    touched_.insert(found->first);
    found->second.lastUsed = now();
    return found->second.correction;
}

bool CorrectionStore::knows(std::string_view app, std::string_view phrase) {
    std::lock_guard lock(mutex_);
    return loaded().contains(key(app, phrase));
}

void CorrectionStore::remember(std::string_view app, std::string_view phrase, const Correction& correction) {
    std::lock_guard lock(mutex_);
    auto k = key(app, phrase);
    touched_.insert(k);
    auto entries = loaded();
    entries[k] = Entry{correction, now()};
    save(trimmed(std::move(entries)));
}

void CorrectionStore::forget(std::string_view app, std::string_view phrase) {
    std::lock_guard lock(mutex_);
    auto entries = loaded();
    if (entries.erase(key(app, phrase)) > 0) save(std::move(entries));
}

void CorrectionStore::forget(std::string_view app) {
    std::lock_guard lock(mutex_);
    auto entries = loaded();
    if (std::erase_if(entries, [&](const auto& item) { return CorrectionStore::app(item.first) == app; }) > 0)
        save(std::move(entries));
}

void CorrectionStore::forgetEverything() {
    std::lock_guard lock(mutex_);
    touched_.clear();
    save({});
}

void CorrectionStore::beginRun() {
    std::lock_guard lock(mutex_);
    touched_.clear();
    auto entries = loaded();
    if (std::erase_if(entries, [](const auto& item) { return item.second.correction.forThisRunOnly; }) > 0)
        save(std::move(entries));
}

void CorrectionStore::forgetThisRun() {
    std::lock_guard lock(mutex_);
    auto entries = loaded();
    auto dropped = std::erase_if(entries, [&](const auto& item) { return touched_.contains(item.first); });
    touched_.clear();
    if (dropped > 0) save(std::move(entries));
}

CorrectionStore::Entries CorrectionStore::entries() {
    std::lock_guard lock(mutex_);
    return loaded();
}

std::set<std::string> CorrectionStore::touchedKeys() {
    std::lock_guard lock(mutex_);
    return touched_;
}

nlohmann::json CorrectionStore::encoded(const Entries& entries) {
    auto out = nlohmann::json::object();
    for (const auto& [key, entry] : entries)
        out[key] = {{"correction", entry.correction.toJSON()}, {"lastUsed", entry.lastUsed}};
    return out;
}

CorrectionStore::Entries CorrectionStore::decoded(const nlohmann::json& value) {
    Entries entries;
    for (const auto& [key, item] : json::requireObject(value, "the corrections").items()) {
        const auto& object = json::requireObject(item, "an entry");
        const auto* correction = json::optionalObject(object, "correction");
        if (!correction) throw DecodeError("missing \"correction\"");
        entries.emplace(key, Entry{Correction::fromJSON(*correction), json::requireDouble(object, "lastUsed")});
    }
    return entries;
}

CorrectionStore::Entries CorrectionStore::trimmed(Entries entries) {
    std::map<std::string, std::vector<Aged>> byApp;
    std::vector<Aged> all;
    for (const auto& [key, entry] : entries) byApp[app(key)].emplace_back(entry.lastUsed, key);
    for (auto& [_, keys] : byApp) keepNewest(entries, std::move(keys), perApplication);
    for (const auto& [key, entry] : entries) all.emplace_back(entry.lastUsed, key);
    keepNewest(entries, std::move(all), inAll);
    return entries;
}

CorrectionStore::Entries& CorrectionStore::loaded() {
    if (!entries_) {
        entries_.emplace();
        try {
            if (auto data = defaults_.get(std::string(defaultsKey))) entries_ = decoded(*data);
        } catch (const std::exception&) {
            // Unreadable: an empty memory, which the next save replaces.
        }
    }
    // Aged answers go on every use, not only on the first read, so that a program left
    // running for months forgets as one started afresh would.
    std::erase_if(*entries_, [now = now()](const auto& item) { return now - item.second.lastUsed >= maxAge; });
    return *entries_;
}

void CorrectionStore::persist() {
    std::lock_guard lock(mutex_);
    // Nothing read means nothing changed: storing would only rewrite the same bytes.
    if (!entries_) return;
    save(std::move(*entries_));
}

void CorrectionStore::save(Entries entries) {
    entries_ = std::move(entries);
    try {
        defaults_.set(std::string(defaultsKey), encoded(*entries_));
    } catch (const std::exception&) {
        // Not reported: the stored map stays as it was, and this process goes on with
        // what it learned until a later save gets through.
    }
}

double CorrectionStore::now() {
    return clock_.wallTime() - dateEpoch;
}

} // namespace vanto
