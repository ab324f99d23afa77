#include "sheets/DemoSheet.h"
#include "base/Files.h"
#include "base/Text.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace vanto {
namespace {

namespace fs = std::filesystem;
using Case = DemoSheet::Failure::Case;

// The failure a sheet's text gives when decoded and validated, or none.
std::optional<DemoSheet::Failure> failureOf(const std::string& text) {
    try {
        DemoSheet::decode(text).validate();
    } catch (const DemoSheet::Failure& failure) {
        return failure;
    }
    return std::nullopt;
}

void expectFailure(const std::string& text, Case which, const std::string& message) {
    auto failure = failureOf(text);
    ASSERT_TRUE(failure) << text;
    EXPECT_EQ(failure->which(), which) << text;
    EXPECT_EQ(std::string(failure->what()), message) << text;
}

class TempFolder {
public:
    TempFolder() {
        path_ =
            fs::temp_directory_path() /
            ("vanto-sheets-" +
             std::to_string(std::hash<std::string>{}(::testing::UnitTest::GetInstance()->current_test_info()->name())) +
             "-" + std::to_string(counter_++));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }
    fs::path write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path_ / name, std::ios::binary) << bytes;
        return path_ / name;
    }

private:
    static inline int counter_ = 0;
    fs::path path_;
};

TEST(DemoSheet, theMinimalSheetTakesEveryDefault) {
    auto sheet = DemoSheet::decode(R"({"title":"Tour","scenes":[{"name":"Open","prompt":"open the app"}]})");
    EXPECT_NO_THROW(sheet.validate());
    EXPECT_EQ(sheet.version, 1);
    EXPECT_EQ(sheet.title, "Tour");
    EXPECT_FALSE(sheet.claim || sheet.narration || sheet.project || sheet.stage);
    EXPECT_TRUE(sheet.preconditions.empty());
    EXPECT_FALSE(sheet.unattended);
    EXPECT_TRUE(sheet.projectSettings);
    ASSERT_EQ(sheet.scenes.size(), 1u);
    const Scene& scene = sheet.scenes[0];
    EXPECT_EQ(scene.kind, Scene::Kind::take);
    EXPECT_EQ(scene.name, "Open");
    EXPECT_EQ(scene.prompt, "open the app");
    EXPECT_FALSE(scene.pageOnly || scene.driven);
    EXPECT_FALSE(scene.summary || scene.startState || scene.seconds || scene.freezeOn || scene.startURL);
    EXPECT_EQ(sheet.takes(), (std::vector<std::size_t>{0}));
}

TEST(DemoSheet, everyKeyIsReadIntoItsField) {
    auto sheet = DemoSheet::decode(R"({
      "version": 0, "title": "T", "claim": "C", "narration": "N", "preconditions": ["a", "b"],
      "unattended": true, "stage": {"browser": "google chrome", "width": 800, "height": 600},
      "project": "P1", "project_settings": false, "projectSettings": true,
      "planFile": "/tmp/plan.json", "clientKey": "K", "somethingNew": [1, 2],
      "scenes": [
        {"kind": "hold", "name": "H", "summary": "S", "startState": "SS", "seconds": 2.5, "freezeOn": "F"},
        {"kind": "take", "name": "T", "prompt": "p", "startURL": "https://x.example", "pageOnly": true,
         "driven": true, "planFile": "/tmp/p.json", "clientKey": "ck"}
      ]})");
    EXPECT_NO_THROW(sheet.validate());
    EXPECT_EQ(sheet.version, 0);
    EXPECT_EQ(sheet.claim, "C");
    EXPECT_EQ(sheet.narration, "N");
    EXPECT_EQ(sheet.preconditions, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(sheet.unattended);
    ASSERT_TRUE(sheet.stage);
    EXPECT_EQ(*sheet.stage, (Stage{"google chrome", 800, 600}));
    EXPECT_EQ(sheet.project, "P1");
    // Only the snake-case key counts.
    EXPECT_FALSE(sheet.projectSettings);
    const Scene& hold = sheet.scenes[0];
    EXPECT_EQ(hold.kind, Scene::Kind::hold);
    EXPECT_EQ(hold.summary, "S");
    EXPECT_EQ(hold.startState, "SS");
    EXPECT_EQ(hold.seconds, 2.5);
    EXPECT_EQ(hold.freezeOn, "F");
    const Scene& take = sheet.scenes[1];
    EXPECT_EQ(take.startURL, "https://x.example");
    EXPECT_TRUE(take.pageOnly);
    EXPECT_TRUE(take.driven);
    // A sheet file never sets these.
    EXPECT_FALSE(take.planFile);
    EXPECT_FALSE(take.clientKey);
    EXPECT_EQ(sheet.takes(), (std::vector<std::size_t>{1}));
}

TEST(DemoSheet, decodingIsStrictAboutTypesAndKinds) {
    auto malformed = [](const std::string& text, const std::string& reason) {
        expectFailure(text, Case::malformed, "the demo sheet is not a sheet this app understands: " + reason);
    };
    malformed(R"({"scenes":[]})", R"(missing "title")");
    malformed(R"({"title":"T"})", R"(missing "scenes")");
    malformed(R"({"title":"T","scenes":{}})", R"("scenes" must be an array of scenes)");
    malformed(R"({"title":7,"scenes":[]})", R"("title" must be a string)");
    malformed(R"({"title":"T","version":"1","scenes":[]})", R"("version" must be a whole number)");
    malformed(R"({"title":"T","version":1.5,"scenes":[]})", R"("version" must be a whole number)");
    malformed(R"({"title":"T","unattended":"yes","scenes":[]})", R"("unattended" must be true or false)");
    malformed(R"({"title":"T","preconditions":["a",1],"scenes":[]})", R"("preconditions" must be an array of strings)");
    malformed(R"({"title":"T","stage":"chrome","scenes":[]})", R"("stage" must be an object)");
    malformed(R"({"title":"T","stage":{"width":"wide"},"scenes":[]})", R"(stage: "width" must be a whole number)");
    malformed(R"({"title":"T","stage":{"height":1e12},"scenes":[]})",
              R"(stage: "height" must be a whole number from -2147483648 to 2147483647)");
    malformed(R"({"title":"T","scenes":[{"prompt":"p"}]})", R"(scene 1: missing "name")");
    malformed(R"({"title":"T","scenes":[{"name":"a","prompt":"p"},"b"]})", "scene 2: a scene must be a JSON object");
    malformed(R"({"title":"T","scenes":[{"name":"a","kind":"Take","prompt":"p"}]})",
              R"(scene 1: "kind" must be "take" or "hold", not "Take")");
    malformed(R"({"title":"T","scenes":[{"name":"a","kind":"card","prompt":"p"}]})",
              R"(scene 1: "kind" must be "take" or "hold", not "card")");
    malformed(R"({"title":"T","scenes":[{"name":"a","seconds":"3"}]})", R"(scene 1: "seconds" must be a number)");
    malformed(R"({"title":"T","scenes":[{"name":"a","driven":1}]})", R"(scene 1: "driven" must be true or false)");
    malformed(R"([1,2])", "a demo sheet must be a JSON object");
    // The parser's own words, without its internal exception id.
    auto notJSON = failureOf("{\"title\": ");
    ASSERT_TRUE(notJSON);
    EXPECT_EQ(notJSON->which(), Case::malformed);
    EXPECT_TRUE(
        std::string(notJSON->what())
            .starts_with("the demo sheet is not a sheet this app understands: parse error at line 1, column 11"))
        << notJSON->what();
}

TEST(DemoSheet, versionTwoFailsFirstEvenWithoutScenes) {
    const std::string message = "the demo sheet is version 2, and this app reads up to version 1. Update Vanto.";
    expectFailure(R"({"version":2,"title":"T","scenes":[]})", Case::tooNew, message);
    // A newer sheet may be shaped differently: saying it is too new beats naming a key.
    expectFailure(R"({"version":2,"title":"T"})", Case::tooNew, message);
    expectFailure(R"({"version":2,"scenes":"later"})", Case::tooNew, message);
    expectFailure(R"({"version":1,"title":"T"})", Case::malformed,
                  R"(the demo sheet is not a sheet this app understands: missing "scenes")");
    auto negative = DemoSheet::decode(R"({"version":-3,"title":"T","scenes":[{"name":"a","prompt":"p"}]})");
    EXPECT_NO_THROW(negative.validate());
}

TEST(DemoSheet, emptyScenesAndAllHolds) {
    expectFailure(R"({"title":"T","scenes":[]})", Case::noScenes, "the demo sheet has no scenes in it");
    // Holds with prompts: nothingToRecord comes before the per-scene checks.
    expectFailure(R"({"title":"T","scenes":[{"kind":"hold","name":"a","prompt":"p"},{"kind":"hold","name":"b"}]})",
                  Case::nothingToRecord, "every scene in the demo sheet is a hold, so there is nothing to record");
}

TEST(DemoSheet, stageDefaultsSizesAndBrowser) {
    auto sheet = DemoSheet::decode(R"({"title":"T","stage":{},"scenes":[{"name":"a","prompt":"p"}]})");
    ASSERT_TRUE(sheet.stage);
    EXPECT_EQ(*sheet.stage, (Stage{"Google Chrome", 1440, 900}));
    EXPECT_NO_THROW(sheet.validate());

    auto withStage = [](const std::string& stage) {
        return R"({"title":"T","stage":)" + stage + R"(,"scenes":[{"name":"a","prompt":"p"}]})";
    };
    EXPECT_FALSE(failureOf(withStage(R"({"width":640,"height":400})")));
    expectFailure(withStage(R"({"width":639,"height":400})"), Case::stageTooSmall,
                  "the stage is 639x400, which is too small to record a page in");
    expectFailure(withStage(R"({"width":640,"height":399})"), Case::stageTooSmall,
                  "the stage is 640x399, which is too small to record a page in");
    expectFailure(withStage(R"({"width":-1,"height":-900})"), Case::stageTooSmall,
                  "the stage is -1x-900, which is too small to record a page in");
    EXPECT_FALSE(failureOf(withStage(R"({"browser":"google chrome"})")));
    EXPECT_FALSE(failureOf(withStage(R"({"browser":"GOOGLE CHROME"})")));
    EXPECT_FALSE(failureOf(withStage(R"({"browser":"chromium"})")));
    expectFailure(withStage(R"({"browser":"Google Chrome Canary"})"), Case::unsupportedBrowser,
                  "the stage asks for Google Chrome Canary, and Google Chrome is the only browser a stage can be");
    // The browser is checked before the size.
    expectFailure(withStage(R"({"browser":"Safari","width":10})"), Case::unsupportedBrowser,
                  "the stage asks for Safari, and Google Chrome is the only browser a stage can be");
}

TEST(DemoSheet, promptsAreTrimmedAndScenesCountFromOne) {
    expectFailure(R"({"title":"T","scenes":[{"name":"Blank","prompt":"  \n "}]})", Case::sceneWithoutPrompt,
                  R"(scene 1, "Blank", is a take with no prompt to record from)");
    expectFailure(R"({"title":"T","scenes":[{"name":"None"}]})", Case::sceneWithoutPrompt,
                  R"(scene 1, "None", is a take with no prompt to record from)");
    // Unicode spaces and line separators are white space too.
    expectFailure("{\"title\":\"T\",\"scenes\":[{\"name\":\"U\",\"prompt\":\"\u00a0\u2028\\t\\n\"}]}",
                  Case::sceneWithoutPrompt, R"(scene 1, "U", is a take with no prompt to record from)");
    // A hold with a prompt at position 2 is scene 3, reported before the later take without one.
    auto failure = failureOf(R"({"title":"T","scenes":[
        {"name":"a","prompt":"p"}, {"kind":"hold","name":"b"}, {"kind":"hold","name":"Freeze","prompt":"x"},
        {"name":"d"}]})");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->which(), Case::holdWithPrompt);
    EXPECT_EQ(failure->sceneIndex(), 2u);
    EXPECT_EQ(std::string(failure->what()),
              "scene 3, \"Freeze\", is a hold, which is frozen in the editor rather than recorded - it should not "
              "carry a prompt");
    // A hold whose prompt is only blanks is fine.
    EXPECT_FALSE(
        failureOf(R"({"title":"T","scenes":[{"name":"a","prompt":"p"},{"kind":"hold","name":"b","prompt":" "}]})"));
}

TEST(DemoSheet, drivenTakesNeedAStageAndUnattended) {
    const std::string message =
        R"(scene 2, "Drive", is driven, which needs a sheet that records itself ("unattended": true) on a stage)";
    auto sheet = [](const std::string& extra) {
        return R"({"title":"T")" + extra +
               R"(,"scenes":[{"name":"a","prompt":"p"},{"name":"Drive","prompt":"go","driven":true}]})";
    };
    expectFailure(sheet(R"(,"stage":{},"unattended":false)"), Case::drivenWithoutStage, message);
    expectFailure(sheet(R"(,"unattended":true)"), Case::drivenWithoutStage, message);
    EXPECT_FALSE(failureOf(sheet(R"(,"stage":{},"unattended":true)")));
    // The prompt check of the same scene comes first.
    expectFailure(R"({"title":"T","scenes":[{"name":"Drive","driven":true}]})", Case::sceneWithoutPrompt,
                  R"(scene 1, "Drive", is a take with no prompt to record from)");
}

TEST(DemoSheet, takesListsTakePositionsInOrder) {
    auto sheet = DemoSheet::decode(R"({"title":"T","scenes":[
        {"kind":"hold","name":"a"},{"name":"b","prompt":"p"},{"kind":"hold","name":"c"},{"name":"d","prompt":"q"}]})");
    EXPECT_EQ(sheet.takes(), (std::vector<std::size_t>{1, 3}));
}

TEST(DemoSheet, loadReadsDecodesAndValidates) {
    TempFolder folder;
    auto good = folder.write("good.json", R"({"title":"Good","scenes":[{"name":"a","prompt":"p"}]})");
    EXPECT_EQ(DemoSheet::load(good).title, "Good");

    auto invalid = folder.write("invalid.json", R"({"title":"T","scenes":[]})");
    try {
        DemoSheet::load(invalid);
        ADD_FAILURE() << "an empty sheet loaded";
    } catch (const DemoSheet::Failure& failure) {
        EXPECT_EQ(failure.which(), Case::noScenes);
    }

    auto missing = folder.path() / "missing.json";
    try {
        DemoSheet::load(missing);
        ADD_FAILURE() << "a missing file loaded";
    } catch (const DemoSheet::Failure& failure) {
        EXPECT_EQ(failure.which(), Case::unreadable);
        EXPECT_EQ(std::string(failure.what()),
                  "could not read the demo sheet at " + missing.string() + ": No such file or directory");
    }
    try {
        DemoSheet::load(folder.path());
        ADD_FAILURE() << "a folder loaded";
    } catch (const DemoSheet::Failure& failure) {
        EXPECT_EQ(failure.which(), Case::unreadable);
        EXPECT_EQ(std::string(failure.what()),
                  "could not read the demo sheet at " + folder.path().string() + ": Is a directory");
    }
}

TEST(DemoSheet, launchExpandsALeadingTilde) {
    TempFolder home;
    fs::create_directories(home.path() / "sheets");
    home.write("sheets/tour.json", R"({"title":"Home tour","scenes":[{"name":"a","prompt":"p"}]})");
    EXPECT_EQ(loadForLaunch("~/sheets/tour.json", home.path()).title, "Home tour");
    EXPECT_EQ(loadForLaunch((home.path() / "sheets/tour.json").string(), "/nowhere").title, "Home tour");
    try {
        loadForLaunch("~", home.path());
        ADD_FAILURE() << "home itself loaded";
    } catch (const DemoSheet::Failure& failure) {
        EXPECT_EQ(std::string(failure.what()),
                  "could not read the demo sheet at " + home.path().string() + ": Is a directory");
    }
    // A relative path is reported from the current folder, as the person would find it.
    try {
        loadForLaunch("no-such-sheet-here.json", home.path());
        ADD_FAILURE() << "a missing sheet loaded";
    } catch (const DemoSheet::Failure& failure) {
        EXPECT_EQ(std::string(failure.what()), "could not read the demo sheet at " +
                                                   (fs::current_path() / "no-such-sheet-here.json").string() +
                                                   ": No such file or directory");
    }
}

TEST(Text, trimsWhitespaceAndNewlinesButNothingElse) {
    EXPECT_EQ(text::trimWhitespaceAndNewlines(" \t\r\n a b \n"), "a b");
    EXPECT_EQ(text::trimWhitespaceAndNewlines("\u3000x\u2029"), "x");
    EXPECT_EQ(text::trimWhitespaceAndNewlines("\u200bx"), "\u200bx"); // a zero-width space is not white space
    EXPECT_EQ(text::trimWhitespaceAndNewlines("\n\n"), "");
    EXPECT_EQ(text::trimWhitespaceAndNewlines("\xff \n"), "\xff");
}

TEST(Files, readFileGivesTheBytesOrTheSystemsReason) {
    TempFolder folder;
    std::string bytes("a\0b\nc", 5);
    folder.write("f.bin", bytes);
    EXPECT_EQ(readFile(folder.path() / "f.bin"), bytes);
    try {
        readFile(folder.path() / "none");
        ADD_FAILURE() << "read a missing file";
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
    }
}

TEST(Files, onlyARegularFileOfAtMost16MiBIsRead) {
    TempFolder folder;
    auto reasonFor = [](const fs::path& file) -> std::string {
        try {
            readFile(file);
        } catch (const fs::filesystem_error& error) {
            return error.code().message();
        }
        return "(read)";
    };
    // A device and a pipe would feed bytes forever or never answer; a link to one is the same.
    EXPECT_EQ(reasonFor("/dev/zero"), "it is a device, not a regular file");
    fs::create_symlink("/dev/zero", folder.path() / "zero.json");
    EXPECT_EQ(reasonFor(folder.path() / "zero.json"), "it is a device, not a regular file");
    ASSERT_EQ(mkfifo((folder.path() / "fifo.json").c_str(), 0600), 0);
    EXPECT_EQ(reasonFor(folder.path() / "fifo.json"), "it is a pipe, not a regular file");

    auto largest = folder.write("largest.json", "");
    fs::resize_file(largest, largestReadableFile);
    EXPECT_EQ(readFile(largest).size(), largestReadableFile);
    fs::resize_file(largest, largestReadableFile + 1);
    EXPECT_EQ(reasonFor(largest), "it is larger than 16 MiB");
}

} // namespace
} // namespace vanto
