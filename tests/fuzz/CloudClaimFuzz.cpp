// The service's claim answer, decoded as a cloud run does. A claim that decodes gives
// a stage of finite, whole size on any screen, and one that fits a short screen.

#include "base/Json.h"
#include "cloud/CloudClaim.h"
#include "cloud/CloudSheetMaker.h"
#include "platform/fake/FakePlatform.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    nlohmann::json answer;
    try {
        answer = nlohmann::json::parse(bytes);
    } catch (const nlohmann::json::exception& error) {
        (void)vanto::json::description(error);
        return 0;
    }
    try {
        auto claim = vanto::CloudClaim::fromJSON(answer);
        if (claim.runMs() != (claim.limits.contains("run_ms") ? claim.limits.at("run_ms") : 1'200'000)) std::abort();
        vanto::fake::SeededRandom random;
        for (std::int64_t screen : {400, 900, 2160}) {
            vanto::CloudSheetMaker maker(claim.sheet, "/nonexistent/run", screen, random,
                                         [](const std::string&) { return std::vector<std::string>{}; });
            auto stage = maker.stage(claim.sheet.stage);
            const auto bars = vanto::Stage::browserBarsHeight;
            bool fitted = claim.sheet.stage.height > 0 && screen < claim.sheet.stage.height + bars;
            if (fitted && stage.height != screen) std::abort();
            if (!fitted && stage.height != claim.sheet.stage.height + bars) std::abort();
        }
    } catch (const vanto::DecodeError&) {
    }
    return 0;
}
