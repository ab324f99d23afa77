#pragma once

#include "platform/Clock.h"

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <string>

namespace vanto {

// Every progress line of this process, stamped "HH:mm:ss", in one file that each
// process empties at its first line. Nothing is written until the entry switches it
// on; errors are ignored, as the log must never fail a run. Control characters in a
// line are written as visible escapes, so each line stays one line.
class RunLog {
public:
    RunLog(std::filesystem::path file, Clock& clock);

    // The process's log, set up once by the entry; none until then.
    static RunLog* shared();
    static void setShared(RunLog* log);

    void setRecording(bool on);
    void write(const std::string& line);

    const std::filesystem::path& file() const { return file_; }

private:
    std::mutex mutex_;
    std::filesystem::path file_;
    Clock& clock_;
    bool recording_ = false;
    bool started_ = false;
};

// "HH:mm:ss" of a wall-clock time in the local time zone.
std::string clockStamp(double wallSeconds);

// A run's progress line: standard error as "vanto: " + message (control characters
// escaped), the run log, and the run's own progress callback when it has one.
class ProgressLog {
public:
    using Callback = std::function<void(const std::string&)>;
    ProgressLog(std::ostream& err, Callback onProgress = {});
    void operator()(const std::string& message) const;

private:
    std::ostream& err_;
    Callback onProgress_;
};

} // namespace vanto
