#pragma once

#include "agent/RunParams.h"
#include "plan/Step.h"
#include "platform/Defaults.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace vanto {

// What the window asks of the person and tells them around one take typed into its
// pane: the checks on the fields, the run's parameters and the texts of its dialogs.
// The window draws them; every decision is made here.
namespace TakeFlow {

// An alert's texts and its buttons, the default first.
struct Alert {
    std::string message;
    std::string informative;
    std::vector<std::string> buttons;
    bool operator==(const Alert&) const = default;
};

// A problem with the pane's fields, said instead of starting anything.
struct Complaint {
    std::string title;
    std::string detail;
    bool operator==(const Complaint&) const = default;
};

// What Record starts: the trimmed prompt and where the take goes, if anywhere.
struct Take {
    std::string prompt;
    std::optional<std::string> into;
    std::optional<double> atSeconds;
    bool operator==(const Take&) const = default;
};

// The pane as Record finds it. `video` and `seconds` are the fields as read (the
// video's ID, the time in seconds when it reads as one); `time` is the field's text.
struct Fields {
    std::string prompt;
    std::string video;
    std::optional<double> seconds;
    std::string time;
    // The 1-based position of the open sheet's selected scene when it is a hold.
    std::optional<std::size_t> heldScene;
    bool running = false;
};

// The pane's fields read from their texts: the video's ID from its field, the time's
// seconds when it reads as a time.
Fields read(const std::string& prompt, const std::string& video, const std::string& time, bool running);

// A complaint, the take to start, or nothing to do (no prompt, or a take is running).
using Begun = std::variant<std::monostate, Complaint, Take>;
Begun begin(const Fields& fields);

// The run of a take typed into the pane; `linked` when a configuration is stored.
RunParams runParams(const Take& take, std::filesystem::path output, bool linked);

// Whether to run the plan: the question with a capital, up to twelve steps listed.
Alert approval(const std::vector<Step>& steps, const std::string& question);
inline constexpr std::size_t stepsListed = 12;
// A step as the approval lists it: its label, else the action and what it acts on.
std::string listed(const Step& step);

Alert readyToRecord();
inline constexpr const char* answerTheQuestion = "Answer the question";

// How the run ended, as the result dialog needs it.
struct Outcome {
    std::optional<std::string> error; // the run failed with this description
    bool plannerAsked = false;        // the failure is the planner's question
    std::optional<std::string> uploadURL;
    std::string path;
    bool learned = false; // the run looked up or learned remembered answers
};
Alert result(const Outcome& outcome);
inline constexpr const char* forgetButton = "Forget What It Learned";
// Said where the design's Finder is: the desktop's file manager shows the folder.
inline constexpr const char* showButton = "Show in Folder";

// The person's keyboard speed in characters a second, as the pane's stepper shows it
// and the take types: what is stored, rounded into 4...80, 30 when unset.
inline constexpr const char* keyboardSpeedKey = "vanto.typingSpeed";
double keyboardSpeed(Defaults& defaults);

// Whether the address can be opened as a web page.
bool isWebAddress(const std::string& address);

} // namespace TakeFlow

// Set by the panel's Stop, read by the run's stopped callback.
class StopFlag {
public:
    void set() {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    bool isSet() {
        std::lock_guard lock(mutex_);
        return set_;
    }

private:
    std::mutex mutex_;
    bool set_ = false;
};

} // namespace vanto
