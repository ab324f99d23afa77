// The planner request against the devservice: what the client sends, a plan coming
// back, the planner's question, and answers that are no plan.

#include "ServiceFixture.h"

#include "plan/Plan.h"
#include "base/Json.h"

#include <cstdlib>

namespace vanto::test {
namespace {

class PlannerTest : public ServiceFixture {
protected:
    void SetUp() override { token = service.addAccount("ada@example.test", "Ada Lovelace"); }

    void store(const nlohmann::json& entry) {
        auto answer = service.call("POST", "/__plans", entry.dump(), {{"Content-Type", "application/json"}});
        ASSERT_EQ(answer.status, 201) << answer.body;
    }

    nlohmann::json planningRequests() {
        return nlohmann::json::parse(service.call("GET", "/__plans/requests").body)["requests"];
    }

    std::string token;
};

const nlohmann::json twoSteps = {
    {"steps", {{{"action", "navigate"}, {"url", "http://localhost:8000/"}}, {{"action", "click"}, {"target", "Save"}}}}};

TEST_F(PlannerTest, theBodyHasExactlyTheFourKeysAndTheStoredPlanComesBack) {
    store({{"prompt", "show saving a note"}, {"plan", twoSteps}});
    auto api = client(token);

    auto plan = api.plan("show saving a note", false, false);
    ASSERT_EQ(plan.steps.size(), 2u);
    EXPECT_EQ(plan.steps[0].action, "navigate");
    EXPECT_EQ(plan.steps[0].url, "http://localhost:8000/");
    EXPECT_EQ(plan.steps[1].target, "Save");

    api.plan("show saving a note", true, true);
    auto bodies = planningRequests();
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_EQ(bodies[0], (nlohmann::json{
                             {"prompt", "show saving a note"}, {"runner", "native"}, {"continues", false}, {"stage_only", false}}));
    EXPECT_EQ(bodies[1], (nlohmann::json{
                             {"prompt", "show saving a note"}, {"runner", "native"}, {"continues", true}, {"stage_only", true}}));

    // The request went through the client's template: signed in, with its content type.
    auto seen = service.requests();
    bool planned = false;
    for (const auto& request : seen)
        if (request.value("path", "") == "/api/capture/plan") planned = request.value("bearer", false);
    EXPECT_TRUE(planned) << seen.dump();
}

TEST_F(PlannerTest, aPatternMatchesAPromptWithAStartPageInFront) {
    store({{"pattern", "sav.*note"}, {"plan", twoSteps}});
    auto plan = client(token).plan(
        "Google Chrome is already open on http://localhost:8000/. Start from that page; do not navigate to it "
        "again. Show SAVING a note",
        false, false);
    EXPECT_EQ(plan.steps.size(), 2u);
}

TEST_F(PlannerTest, aQuestionComesBackUnchangedAsThePlanError) {
    store({{"prompt", "make a demo"}, {"question", "Which app? Name it, and what \"done\" looks like."}});
    auto api = client(token);
    try {
        api.plan("make a demo", false, false);
        FAIL() << "no question";
    } catch (const PlanError& error) {
        EXPECT_STREQ(error.what(), "Which app? Name it, and what \"done\" looks like.");
    }
    // A prompt the planner has nothing for is a question too.
    try {
        api.plan("something nobody stored", false, false);
        FAIL() << "no question";
    } catch (const PlanError& error) {
        EXPECT_STRNE(error.what(), "");
    }
}

TEST_F(PlannerTest, anAnswerThatIsNoPlanFailsWithTheDecodersErrorAndOtherStatusesStayServiceErrors) {
    auto api = client(token);
    service.inject({{"path", "/api/capture/plan"}, {"status", 200}, {"contentType", "application/json"}, {"body", R"({"steps":[{"target":"Save"}]})"}});
    EXPECT_THROW(api.plan("anything", false, false), DecodeError) << "a step without an action";
    service.inject({{"path", "/api/capture/plan"}, {"status", 200}, {"contentType", "text/html"}, {"body", "<html>busy</html>"}});
    EXPECT_THROW(api.plan("anything", false, false), DecodeError);
    // A 422 without a message is no question: it is the service's error.
    service.inject({{"path", "/api/capture/plan"}, {"status", 422}, {"contentType", "application/json"}, {"body", ""}});
    try {
        api.plan("anything", false, false);
        FAIL();
    } catch (const UploadError& error) {
        EXPECT_EQ(error.status(), 422);
    }
    service.inject({{"path", "/api/capture/plan"}, {"status", 500}, {"contentType", "application/json"}, {"body", R"({"error":"planner down"})"}});
    try {
        api.plan("anything", false, false);
        FAIL();
    } catch (const UploadError& error) {
        EXPECT_STREQ(error.what(), "the API returned 500: planner down");
    }
    // Signed out: the service does not know the token.
    EXPECT_THROW(client("vt_unknown").plan("anything", false, false), UploadError);
}

TEST_F(PlannerTest, theServiceRefusesEntriesItCouldNotAnswerWith) {
    for (const auto& entry : {nlohmann::json{{"plan", twoSteps}}, nlohmann::json{{"prompt", "x"}},
                              nlohmann::json{{"prompt", "x"}, {"pattern", "y"}, {"plan", twoSteps}},
                              nlohmann::json{{"pattern", "(unclosed"}, {"plan", twoSteps}},
                              nlohmann::json{{"prompt", "x"}, {"plan", {{"no", "steps"}}}}}) {
        auto answer = service.call("POST", "/__plans", entry.dump(), {{"Content-Type", "application/json"}});
        EXPECT_EQ(answer.status, 400) << entry.dump();
    }
}

} // namespace
} // namespace vanto::test
