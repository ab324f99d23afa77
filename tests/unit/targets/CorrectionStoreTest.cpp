#include "targets/CorrectionStore.h"

#include "platform/JsonFileDefaults.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/MemoryDefaults.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <list>

namespace vanto {
namespace {

constexpr double day = 86'400;
std::string key(std::string_view app, std::string_view phrase) {
    return CorrectionStore::key(app, phrase);
}

Correction answer(std::string label, bool forThisRunOnly = false) {
    return {std::move(label), "AXButton", "", {}, {}, {}, {}, forThisRunOnly};
}

std::set<std::string> keysOf(const nlohmann::json& object) {
    std::set<std::string> keys;
    for (const auto& [k, _] : object.items()) keys.insert(k);
    return keys;
}

class CorrectionStoreTest : public ::testing::Test {
protected:
    nlohmann::json& stored() { return defaults.values.at("corrections"); }
    // A store as a later process of the program sees it.
    CorrectionStore& reloaded() { return later.emplace_back(defaults, clock); }

    fake::VirtualClock clock;
    fake::MemoryDefaults defaults;
    CorrectionStore store{defaults, clock};
    std::list<CorrectionStore> later;
};

TEST_F(CorrectionStoreTest, phrasesShareAnEntryWithoutCaseSymbolsOrOneLeadingArticle) {
    EXPECT_EQ(CorrectionStore::bare("a the b"), "the b");
    EXPECT_EQ(CorrectionStore::bare("An apple"), "apple");
    EXPECT_EQ(CorrectionStore::bare("Theme"), "theme");
    EXPECT_EQ(CorrectionStore::app(key("org.gnome.Files", "x")), "org.gnome.Files");
    store.remember("org.gnome.Files", "the Save button…", answer("Save"));
    EXPECT_EQ(keysOf(stored()), std::set<std::string>{"org.gnome.Files\x1fsave button"});
    EXPECT_EQ(store.lookUp("org.gnome.Files", "Save BUTTON"), answer("Save"));
    EXPECT_FALSE(store.knows("org.gnome.Maps", "Save button"));
    store.remember("org.gnome.FilesX", "save button", answer("Save"));
    store.forget("org.gnome.Files");
    EXPECT_EQ(keysOf(stored()), std::set<std::string>{key("org.gnome.FilesX", "save button")});
    store.forget("org.gnome.FilesX", "The Save button");
    EXPECT_TRUE(stored().empty());
}

TEST_F(CorrectionStoreTest, storedJSONHasExactlyTheKeysOfWhatIsPresent) {
    Correction full{"Edit", "AXButton", "edit-2", 2, "Profile", 640, false, false};
    store.remember("app", "edit", full);
    store.remember("app", "plain", answer("Plain", true));
    EXPECT_EQ(keysOf(stored()[key("app", "edit")]), (std::set<std::string>{"correction", "lastUsed"}));
    EXPECT_EQ(
        keysOf(stored()[key("app", "edit")]["correction"]),
        (std::set<std::string>{"label", "role", "identity", "nth", "near", "scrolledBy", "inPage", "forThisRunOnly"}));
    EXPECT_EQ(stored()[key("app", "plain")],
              (nlohmann::json{{"correction",
                               {{"label", "Plain"}, {"role", "AXButton"}, {"identity", ""}, {"forThisRunOnly", true}}},
                              {"lastUsed", clock.wallTime() - 978'307'200}}));
    EXPECT_EQ(reloaded().lookUp("app", "edit"), full);
    stored()[key("app", "plain")]["correction"] = {{"label", "Plain"}, {"role", "AXButton"}};
    EXPECT_EQ(reloaded().lookUp("app", "plain"), answer("Plain")) << "no identity or run flag: empty and false";
}

TEST_F(CorrectionStoreTest, theTwoHundredAndFirstAnswerEvictsItsApplicationsLeastRecentlyUsed) {
    for (int i = 0; i < 3; ++i) store.remember("other", std::to_string(i), answer("x"));
    for (int i = 0; i < 200; ++i, clock.advance(1)) store.remember("app", std::to_string(i), answer("x"));
    ASSERT_TRUE(store.lookUp("app", "0")) << "a look-up counts as a use";
    store.remember("app", "200", answer("x"));
    EXPECT_EQ(stored().size(), 203u);
    EXPECT_FALSE(store.knows("app", "1"));
    EXPECT_TRUE(store.knows("app", "0") && store.knows("app", "2") && store.knows("other", "0"));
}

TEST_F(CorrectionStoreTest, fiveThousandInAllKeepsTheMostRecentlyUsed) {
    CorrectionStore::Entries full;
    double now = clock.wallTime() - CorrectionStore::dateEpoch;
    for (int app = 0; app < 25; ++app)
        for (int i = 0; i < 200; ++i) full[key(std::to_string(app), std::to_string(i))] = {answer("x"), now - i};
    full[key("7", "0")].lastUsed = now - 1000;
    defaults.values["corrections"] = CorrectionStore::encoded(full);
    store.remember("new", "x", answer("x"));
    EXPECT_EQ(stored().size(), 5000u);
    EXPECT_FALSE(store.knows("7", "0"));
    EXPECT_TRUE(store.knows("new", "x") && store.knows("0", "199"));
}

TEST_F(CorrectionStoreTest, answersUnusedForNinetyDaysAreGoneAtTheNextLoad) {
    for (auto phrase : {"91", "90", "89"}) {
        store.remember("app", phrase, answer("x"));
        clock.advance(day);
    }
    clock.advance(88 * day);
    auto& next = reloaded();
    EXPECT_FALSE(next.knows("app", "91"));
    EXPECT_FALSE(next.knows("app", "90")) << "90 days or more";
    EXPECT_TRUE(next.knows("app", "89"));
}

TEST_F(CorrectionStoreTest, runOnlyAnswersEndWithTheRunAndForgettingTheRunTakesWhatItLookedUp) {
    store.remember("app", "looked up", answer("A"));
    store.remember("app", "only known", answer("B"));
    auto& run = reloaded();
    run.beginRun();
    run.remember("app", "this run", answer("C", true));
    EXPECT_EQ(run.lookUp("app", "this run"), answer("C", true));
    run.beginRun();
    EXPECT_FALSE(run.knows("app", "this run"));
    EXPECT_FALSE(reloaded().knows("app", "this run"));

    EXPECT_TRUE(run.lookUp("app", "looked up") && run.knows("app", "only known"));
    run.remember("app", "learned", answer("D"));
    run.forgetThisRun();
    EXPECT_EQ(keysOf(stored()), std::set<std::string>{key("app", "only known")});
    EXPECT_TRUE(run.touchedKeys().empty());
}

TEST_F(CorrectionStoreTest, forgettingEverythingEmptiesTheStoreAndWhatTheRunTouched) {
    store.remember("app", "one", answer("A"));
    store.remember("other", "two", answer("B"));
    store.forgetEverything();
    EXPECT_TRUE(store.entries().empty());
    EXPECT_TRUE(store.touchedKeys().empty());
    EXPECT_TRUE(stored().empty()) << "saved, so other processes see it";
    EXPECT_TRUE(reloaded().entries().empty());
}

TEST_F(CorrectionStoreTest, corruptDataIsEmptyAndReplacedAndAFailedWriteIsSilent) {
    nlohmann::json good = {{"correction", answer("x").toJSON()}, {"lastUsed", 1e9}};
    nlohmann::json half = {{"correction", {{"label", "x"}, {"role", "r"}, {"nth", 2.5}}}, {"lastUsed", 1e9}};
    for (auto corrupt : {nlohmann::json("text"), nlohmann::json{{key("app", "ok"), good}, {key("app", "bad"), half}}}) {
        defaults.values["corrections"] = corrupt;
        auto& next = reloaded();
        EXPECT_FALSE(next.knows("app", "ok")) << corrupt;
        next.remember("app", "new", answer("New"));
        EXPECT_EQ(keysOf(stored()), std::set<std::string>{key("app", "new")}) << corrupt;
    }
    struct Unwritable final : Defaults {
        std::optional<nlohmann::json> get(const std::string&) override { return std::nullopt; }
        void set(const std::string&, const nlohmann::json&) override { throw std::runtime_error("read-only"); }
        void remove(const std::string&) override {}
    } unwritable;
    CorrectionStore failing(unwritable, clock);
    EXPECT_NO_THROW(failing.remember("app", "x", answer("x")));
    EXPECT_TRUE(failing.knows("app", "x")) << "the process goes on with what it learned";
}

// Two processes of the program writing one defaults file at once: every state of the
// file decodes and holds one writer's whole map, never a mix or a torn file, and the
// last save wins whole.
TEST(CorrectionStoreFile, twoProcessesWritingLeaveOneWritersWholeMapNeverACorruptFile) {
    fake::FakePlatform fake;
    const auto file = fake.paths.configDir() / JsonFileDefaults::fileName;
    constexpr int saves = 150;
    // Each writer has read its (empty) memory before either saves, so that its map holds
    // its own answers only; then both go at once.
    int ready[2], go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    auto writer = [&](const std::string& app) {
        const pid_t child = ::fork();
        if (child != 0) return child;
        ::close(ready[0]);
        ::close(go[1]);
        JsonFileDefaults defaults(file);
        fake::VirtualClock clock;
        CorrectionStore store(defaults, clock);
        const bool empty = !store.knows(app, "0");
        char byte = 1;
        if (::write(ready[1], &byte, 1) != 1 || ::read(go[0], &byte, 1) != 0) ::_exit(2);
        for (int i = 0; i < saves; ++i) store.remember(app, std::to_string(i), answer(app + std::to_string(i)));
        ::_exit(empty && store.entries().size() == saves ? 0 : 1);
    };
    const pid_t writers[] = {writer("a"), writer("b")};
    ::close(ready[1]);
    ::close(go[0]);
    for (pid_t child : writers) ASSERT_GT(child, 0);
    char byte = 0;
    for (int i = 0; i < 2; ++i) ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(go[1]); // both go

    // What a file holds: the answers 0..n-1 of one application, n of them.
    auto oneWritersMap = [&](const nlohmann::json& all) -> ::testing::AssertionResult {
        if (!all.is_object() || !all.contains("corrections")) return ::testing::AssertionFailure() << all.dump();
        const auto entries = CorrectionStore::decoded(all["corrections"]);
        if (entries.empty()) return ::testing::AssertionFailure() << "no answers";
        const auto app = CorrectionStore::app(entries.begin()->first);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            auto it = entries.find(key(app, std::to_string(i)));
            if (it == entries.end() || !(it->second.correction == answer(app + std::to_string(i))))
                return ::testing::AssertionFailure() << "a mix: " << all.dump();
        }
        return ::testing::AssertionSuccess();
    };
    int running = 2, reads = 0;
    int statuses[2] = {-1, -1};
    while (running > 0) {
        for (int w = 0; w < 2; ++w)
            if (statuses[w] == -1 && ::waitpid(writers[w], &statuses[w], WNOHANG) == writers[w]) --running;
        std::ifstream in(file, std::ios::binary);
        if (!in) continue;
        ++reads;
        ASSERT_TRUE(oneWritersMap(nlohmann::json::parse(std::istreambuf_iterator<char>(in), {}, nullptr, false)));
    }
    for (int status : statuses) EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_GT(reads, 0);
    std::ifstream in(file, std::ios::binary);
    const auto last = nlohmann::json::parse(std::istreambuf_iterator<char>(in), {}, nullptr, false);
    ASSERT_TRUE(oneWritersMap(last));
    EXPECT_EQ(last["corrections"].size(), std::size_t{saves}) << "the last save did not win whole";
}

} // namespace
} // namespace vanto
