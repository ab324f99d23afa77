#include "engine/Engine.h"

#include "base/Uuid.h"
#include "capture/RecorderError.h"
#include "service/UploadError.h"

#include <system_error>
#include <utility>

namespace vanto {
namespace {

// A "key" event's text: the key strings joined with "+".
std::string joinedKeys(const std::vector<std::string>& keys) {
    std::string text;
    for (const auto& key : keys) text += (text.empty() ? "" : "+") + key;
    return text;
}

// Whether two paths name the same file; lexically when either cannot be looked at.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    bool same = std::filesystem::equivalent(a, b, error);
    if (error) return a.lexically_normal() == b.lexically_normal();
    return same;
}

} // namespace

Engine::Engine(Platform& platform)
    : platform_(platform), runLog_(platform.paths.stateDir() / "run.log", platform.clock),
      input_(platform.events, platform.clock, platform.permissions, platform.pointer),
      resolver_(platform.accessibility, platform.processes, platform.clock), indicator_(platform.ui), hud_(platform.ui),
      recorder_(platform.capture, platform.clock, platform.mainThread, indicator_, hud_),
      accounts_({platform.paths, platform.processes, platform.clock, platform.random, platform.http, platform.workspace,
                 platform.network, platform.mainThread, platform.defaults}),
      corrections_(platform.defaults, platform.clock), pixels_(platform.capture, platform.clock) {}

Engine::~Engine() {
    // The process-wide log must not outlive the engine that owns it.
    if (RunLog::shared() == &runLog_) RunLog::setShared(nullptr);
}

ConfigStore Engine::configStore() {
    return ConfigStore(platform_.paths, platform_.processes);
}

std::optional<APIClient> Engine::serviceClient() {
    auto config = configStore().load();
    if (!config) return std::nullopt;
    return APIClient(*config, platform_.http, platform_.clock, platform_.random);
}

Targeting Engine::targeting(Targeting::Callbacks callbacks) {
    return Targeting({resolver_, input_, platform_.clock, platform_.accessibility, platform_.windows, pixels_,
                      recorder_, corrections_, scrollTrace_},
                     std::move(callbacks));
}

Agent Engine::makeAgent(ProgressLog log, Agent::Callbacks callbacks,
                        std::function<std::optional<std::string>(std::stop_token)> readLine) {
    Agent::Seams seams{
        platform_.paths,
        platform_.processes,
        platform_.clock,
        [this] { return serviceClient(); },
        platform_.mainThread,
        platform_.windows,
        platform_.accessibility,
        platform_.workspace,
        input_,
        resolver_,
        recorder_,
        indicator_,
        hud_,
        corrections_,
        scrollTrace_,
        pixels_,
        [this](Targeting::Callbacks targetingCallbacks) { return targeting(std::move(targetingCallbacks)); },
        std::move(readLine)};
    return Agent(std::move(seams), std::move(log), std::move(callbacks));
}

std::filesystem::path Engine::defaultOutputURL() {
    return platform_.paths.tempDir() / ("vanto-capture-" + uuidString(platform_.random) + ".mov");
}

std::vector<WindowInfo> Engine::onScreenWindows() {
    return WindowList::onScreen(platform_.windows);
}

Point Engine::cursor() {
    return platform_.pointer.position();
}

PermissionsResult Engine::permissions(bool prompt) {
    auto& permissions = platform_.permissions;
    if (prompt) permissions.accessibilityTrusted(true);
    return {permissions.screenCapturePreflight(), permissions.accessibilityTrusted(false)};
}

bool Engine::askForRunPermissions() {
    auto& permissions = platform_.permissions;
    if (permissions.accessibilityTrusted(false) && permissions.screenCapturePreflight()) return true;
    permissions.accessibilityTrusted(true);
    permissions.requestScreenCapture();
    return false;
}

void Engine::move(Point to, double duration, const std::optional<std::string>& label) {
    input_.move(to, duration);
    recorder_.note("move", label, "", std::nullopt);
}

void Engine::click(std::optional<Point> to, MouseButton button, double settle,
                   const std::optional<std::string>& label) {
    const Point clicked = to ? *to : platform_.pointer.position();
    input_.click(to, button, settle);
    recorder_.note("click", label, "", clicked);
}

void Engine::type(const std::string& text, double charsPerSecond, const std::optional<std::string>& label) {
    input_.type(text, charsPerSecond);
    recorder_.note("type", label, text, std::nullopt);
}

void Engine::press(const std::vector<std::string>& keys, const std::optional<std::string>& label) {
    input_.press(keys);
    recorder_.note("key", label, joinedKeys(keys), std::nullopt);
}

void Engine::scroll(std::int64_t dy, std::int64_t dx, double duration, const std::optional<std::string>& label) {
    input_.scroll(dy, dx, duration);
    recorder_.note("scroll", label, "", std::nullopt);
}

void Engine::startRecording(const Recorder::StartParams& params) {
    recorder_.start(params);
}

StopResult Engine::stopRecording() {
    // Whatever stop answers, nothing is being saved afterwards: the indicator would
    // otherwise say "Saving" for as long as the engine lives.
    struct HideIndicator {
        Engine& engine;
        ~HideIndicator() {
            try {
                engine.platform_.mainThread.run([this] { engine.indicator_.hide(); });
            } catch (const std::exception&) {
                // Only the indicator stays up; the answer matters more.
            }
        }
    } hide{*this};
    return recorder_.stop();
}

StatusResult Engine::recordingStatus() {
    return recorder_.status();
}

std::vector<AXElement> Engine::find(const AXResolver::FindParams& params) {
    return resolver_.find(params);
}

std::optional<AXElement> Engine::elementAt(Point point, std::optional<std::int32_t> pid) {
    return resolver_.elementAt(point, pid);
}

AccountStatus Engine::connect(const std::optional<std::string>& token, const std::optional<std::string>& apiBase,
                              std::stop_token stop) {
    return accounts_.connect(token, apiBase, stop);
}

AccountStatus Engine::disconnect() {
    return accounts_.disconnect();
}

AccountStatus Engine::account(std::stop_token stop) {
    return accounts_.account(stop);
}

UploadResult Engine::upload(const std::optional<std::filesystem::path>& file, const std::string& narration) {
    auto client = serviceClient();
    if (!client) throw UploadError::notConnected();
    std::optional<std::pair<StopResult, std::vector<CaptureEvent>>> last;
    try {
        last = recorder_.take();
    } catch (const RecorderError& error) {
        if (error.kind() != RecorderError::Case::nothingRecorded) throw;
    }
    APIClient::UploadParams params;
    if (file) {
        params.file = *file;
    } else if (last) {
        params.file = last->first.path;
    } else {
        throw RecorderError::nothingRecorded();
    }
    // The log describes the last take only; another file goes up without it.
    if (last && sameFile(params.file, last->first.path)) {
        params.events = std::move(last->second);
        params.duration = last->first.duration;
    }
    params.narration = narration;
    params.applyProjectSettings = true;
    return client->upload(params);
}

} // namespace vanto
