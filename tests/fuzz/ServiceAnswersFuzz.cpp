// The service's answers as the client decodes them. The first byte picks the call,
// the second the status; every request is answered with that status and the rest of
// the input as its body (one body can carry a session id, an etag and a video id, so
// a whole upload goes through). The client's own errors are expected; anything else
// thrown, or a number that does not fit, is a fault.

#include "plan/Plan.h"
#include "base/Json.h"
#include "platform/fake/FakePlatform.h"
#include "service/APIClient.h"
#include "service/UploadError.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

class AnsweringHttp final : public vanto::Http {
public:
    long status = 200;
    std::string body;
    Response send(const Request&, std::stop_token) override {
        return {status, {{"content-type", "application/json"}}, body};
    }
};

const std::filesystem::path& takeFile() {
    static const std::filesystem::path file = [] {
        auto path = std::filesystem::temp_directory_path() / "vanto-fuzz-take.mov";
        std::ofstream(path, std::ios::binary) << "a small take";
        return path;
    }();
    return file;
}

constexpr std::array<long, 12> statuses{200, 201, 204, 400, 401, 404, 422, 500, 503, 99, 600, 0};

void call(const vanto::APIClient& client, int which) {
    switch (which) {
    case 0:
        (void)client.account();
        break;
    case 1:
        (void)client.plan("open the settings", false, false);
        break;
    case 2:
        (void)client.initiate({"take.mov", "a take", true, "", "project-1", true, "key-1"});
        break;
    case 3:
        (void)client.uploadParts("session-1", takeFile());
        break;
    case 4:
        (void)client.complete("session-1", {{{"part_number", 1}, {"etag", "e1"}}}, true);
        break;
    case 5: {
        vanto::APIClient::UploadParams params;
        params.file = takeFile();
        params.narration = "a take";
        params.events = {{0.5, "click", "Save", "", vanto::Point{10, 20}, vanto::Size{640, 480}}};
        params.duration = 2.5;
        params.projectID = "project-1";
        (void)client.upload(params);
        break;
    }
    case 6:
        (void)client.insertTake({"video-1", "video-2", 0, 1500, 700, "key-2"});
        break;
    case 7:
        (void)client.clips("video-1");
        break;
    case 8:
        (void)client.split("video-1", "clip-1", 700);
        break;
    case 9:
        (void)client.videoLength("video-1");
        break;
    case 10:
        (void)client.videoExists("video-1");
        break;
    case 11:
        client.revokeToken();
        break;
    default:
        (void)vanto::APIClient::errorMessage(client.config().token);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static vanto::fake::VirtualClock clock;
    static vanto::fake::SeededRandom random;
    AnsweringHttp http;
    http.status = statuses[data[1] % statuses.size()];
    http.body.assign(reinterpret_cast<const char*>(data) + 2, size - 2);
    const vanto::APIClient client({"token-0123456789abcdef", "https://api.vanto.test"}, http, clock, random);
    try {
        call(client, data[0] % 13);
    } catch (const vanto::UploadError&) {
    } catch (const vanto::DecodeError&) {
    } catch (const vanto::PlanError&) {
    }
    (void)vanto::APIClient::errorMessage(http.body);
    return 0;
}
