// Cutting idle pauses out of a take through its clips, against scripted answers.

#include "service/IdleCut.h"

#include "platform/fake/FakePlatform.h"
#include "platform/fake/ScriptedHttp.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

using Json = nlohmann::json;
using Span = IdleCut::Span;

class IdleCutTest : public ::testing::Test {
protected:
    // What was asked, as "METHOD path body".
    std::vector<std::string> asked() {
        std::vector<std::string> lines;
        for (const auto& sent : http.sent()) {
            auto path = APIClient::pathOf(sent.request.url);
            lines.push_back(sent.request.method + " " + path +
                            (sent.request.body.empty() ? "" : " " + sent.request.body));
        }
        return lines;
    }

    static std::string clips(const Json& list) { return Json{{"clips", list}}.dump(); }
    static Json clip(const std::string& id, int in, int out, const std::string& source = "") {
        Json c = {{"id", id}, {"in_ms", in}, {"out_ms", out}};
        if (!source.empty()) c["source_video_id"] = source;
        return c;
    }

    fake::VirtualClock clock;
    fake::ScriptedHttp http{&clock};
    APIClient api{Config{"vt_secret_token_0123456789", "https://api.vanto.test"}, http, clock};
};

TEST_F(IdleCutTest, stretchesKeepAMarginOfEachPauseAndComeLatestFirst) {
    EXPECT_EQ(IdleCut::stretches({{1000, 1800}, {5000, 9000}}, 10000), (std::vector<Span>{{5300, 8700}}))
        << "the first pause trims to 1300 ... 1500, too short to cut";
    EXPECT_EQ(IdleCut::stretches({{0, 2000}, {1, 2, 3}, {4000}, {6000, 7000}, {3000, 4000}}, 10000),
              (std::vector<Span>{{6300, 6700}, {3300, 3700}, {300, 1700}}))
        << "entries that are not pairs are skipped";
    EXPECT_EQ(IdleCut::stretches({{-1000, 1000}, {8000, 12000}}, 10000), (std::vector<Span>{{8300, 10000}, {0, 700}}))
        << "held within the take";
    EXPECT_EQ(IdleCut::stretches({{1000, 1899}, {3000, 3900}}, 10000), (std::vector<Span>{{3300, 3600}}))
        << "899 ms is too short, 900 ms is just enough";
    EXPECT_TRUE(IdleCut::stretches({}, 10000).empty());
}

TEST_F(IdleCutTest, keptIsWhatRemainsBetweenTheStretches) {
    EXPECT_EQ(IdleCut::kept({{2000, 3000}, {2500, 4000}}, 10000), (std::vector<Span>{{0, 2000}, {4000, 10000}}));
    EXPECT_EQ(IdleCut::kept({{7000, 8000}, {0, 1000}, {3000, 4000}}, 10000),
              (std::vector<Span>{{1000, 3000}, {4000, 7000}, {8000, 10000}}))
        << "in any order, earliest first";
    EXPECT_EQ(IdleCut::kept({{5000, 10000}}, 10000), (std::vector<Span>{{0, 5000}}));
    EXPECT_EQ(IdleCut::kept({{2000, 3000}, {2200, 2500}}, 10000), (std::vector<Span>{{0, 2000}, {3000, 10000}}))
        << "a stretch inside another moves nothing back";
    EXPECT_EQ(IdleCut::kept({}, 10000), (std::vector<Span>{{0, 10000}}));
}

TEST_F(IdleCutTest, aStretchCloseToBothEdgesDeletesTheWholeClipWithoutASplit) {
    http.answer(200, clips(Json::array({clip("c0", 0, 1000, "rec"), clip("c1", 1000, 5000, "rec")})));
    http.answer(200, clips(Json::array({clip("c0", 0, 1000, "rec")})));
    IdleCut cut(api, "vid", "rec");
    EXPECT_TRUE(cut.remove({1100, 4850}));
    EXPECT_EQ(asked(), (std::vector<std::string>{"GET /api/video/vid/clips", "DELETE /api/video/vid/clips/c1"}));
}

TEST_F(IdleCutTest, aStretchInsideAClipIsSplitOutOnBothSides) {
    // The video's own clip has no source: it is the recording when the two are one.
    http.answer(200, clips(Json::array({clip("c1", 0, 10000)})));
    http.answer(200, clips(Json::array({clip("a", 0, 8700), clip("b", 8700, 10000)})));
    http.answer(200, clips(Json::array({clip("a1", 0, 5300), clip("a2", 5300, 8700)})));
    http.answer(200, clips(Json::array({clip("a1", 0, 5300), clip("b", 8700, 10000)})));
    IdleCut cut(api, "vid", "vid");
    EXPECT_TRUE(cut.remove({5300, 8700}));
    EXPECT_EQ(asked(), (std::vector<std::string>{
                           "GET /api/video/vid/clips", R"(POST /api/video/vid/clips/c1/split {"at_ms":8700})",
                           R"(POST /api/video/vid/clips/a/split {"at_ms":5300})", "DELETE /api/video/vid/clips/a2"}));
}

TEST_F(IdleCutTest, onlyOneEdgeFarEnoughSplitsOnce) {
    // Ends 200 ms before the clip's end: snaps to it; starts 201 ms in: split there.
    http.answer(200, clips(Json::array({clip("c1", 0, 10000, "rec")})));
    http.answer(200, clips(Json::array({clip("a", 0, 201, "rec"), clip("b", 201, 10000, "rec")})));
    http.answer(200, "{}");
    IdleCut cut(api, "vid", "rec");
    EXPECT_TRUE(cut.remove({201, 9800}));
    EXPECT_EQ(asked(), (std::vector<std::string>{"GET /api/video/vid/clips",
                                                 R"(POST /api/video/vid/clips/c1/split {"at_ms":201})",
                                                 "DELETE /api/video/vid/clips/b"}));
}

TEST_F(IdleCutTest, noClipOfTheRecordingHoldingTheStretchCutsNothing) {
    http.answer(200, clips(Json::array({clip("other", 0, 10000, "rec_other"), clip("c1", 0, 3000, "rec"),
                                        clip("empty", 4000, 4000, "rec"), clip("own", 0, 10000)})));
    IdleCut cut(api, "vid", "rec");
    EXPECT_FALSE(cut.remove({3500, 5000}));
    EXPECT_FALSE(cut.remove({2500, 3500})) << "straddling the clip's end";
    EXPECT_EQ(http.sent().size(), 2u) << "only the clip lists";
}

TEST_F(IdleCutTest, aFailurePartWayReportsHowManyWereCut) {
    http.answer(200, clips(Json::array({clip("c1", 0, 2000, "rec"), clip("c2", 5000, 6000, "rec")})));
    http.answer(200, "{}");
    http.answer(200, clips(Json::array({clip("c2", 5000, 6000, "rec")}))); // nothing holds the 2nd
    http.answer(200, clips(Json::array({clip("c2", 5000, 6000, "rec")})));
    http.answer(503, R"({"error":"clips are read-only right now"})");
    IdleCut cut(api, "vid", "rec");
    try {
        cut.apply({{100, 1900}, {3000, 3500}, {5050, 5950}, {0, 100}});
        ADD_FAILURE() << "no failure";
    } catch (const IdleCut::Partial& partial) {
        EXPECT_EQ(partial.removed(), 1);
        EXPECT_EQ(std::string(partial.what()),
                  "stopped cutting idle pauses after 1: the API returned 503: clips are read-only right now");
        try {
            std::rethrow_exception(partial.underlying());
        } catch (const UploadError& error) {
            EXPECT_EQ(error.status(), 503);
        }
    }
    EXPECT_EQ(http.sent().size(), 5u) << "nothing after the failure";

    fake::ScriptedHttp fine(&clock);
    APIClient client{Config{"t", "https://api.vanto.test"}, fine, clock};
    fine.answer(200, clips(Json::array({clip("c1", 0, 2000, "rec")})));
    fine.answer(200, "{}");
    fine.answer(200, clips(Json::array()));
    EXPECT_EQ(IdleCut(client, "vid", "rec").apply({{100, 1900}, {3000, 3500}}), 1);
}

} // namespace
} // namespace vanto
