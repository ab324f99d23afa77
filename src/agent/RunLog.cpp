#include "agent/RunLog.h"

#include "base/Text.h"

#include <atomic>
#include <cmath>
#include <ctime>
#include <fstream>
#include <ostream>

namespace vanto {
namespace {

std::atomic<RunLog*> sharedLog{nullptr};

} // namespace

RunLog::RunLog(std::filesystem::path file, Clock& clock) : file_(std::move(file)), clock_(clock) {}

RunLog* RunLog::shared() {
    return sharedLog.load();
}

void RunLog::setShared(RunLog* log) {
    sharedLog.store(log);
}

void RunLog::setRecording(bool on) {
    std::lock_guard lock(mutex_);
    recording_ = on;
}

std::string clockStamp(double wallSeconds) {
    auto seconds = static_cast<std::time_t>(std::floor(wallSeconds));
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

void RunLog::write(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (!recording_) return;
    std::error_code ignored;
    std::filesystem::create_directories(file_.parent_path(), ignored);
    auto mode = started_ ? std::ios::app : std::ios::trunc;
    started_ = true;
    std::ofstream out(file_, std::ios::out | std::ios::binary | mode);
    out << clockStamp(clock_.wallTime()) << ' ' << text::escapedControls(line) << '\n';
}

ProgressLog::ProgressLog(std::ostream& err, Callback onProgress) : err_(err), onProgress_(std::move(onProgress)) {}

void ProgressLog::operator()(const std::string& message) const {
    // Messages carry names from sheets and plans, which must not steer the terminal.
    err_ << "vanto: " << text::escapedControls(message) << '\n';
    err_.flush();
    if (auto* log = RunLog::shared()) log->write(message);
    if (onProgress_) onProgress_(message);
}

} // namespace vanto
