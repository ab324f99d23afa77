#pragma once

#include "base/Error.h"

#include <cstdint>
#include <string>

namespace vanto {

// Why a run or one of its steps could not go on. Low in the tree because steps are
// performed, clicked and answered for in several folders, and all of them fail alike.
class AgentError : public Error {
public:
    enum class Case {
        noWindow,
        noWindowOnThisDesktop,
        couldNotLaunch,
        unresolved,
        ambiguous,
        stuck,
        unknownAction,
        notInADrivenTake,
        declined,
        stopped,
        nothingToFrame,
        cannotDriveItself,
        abortedByDriver,
    };

    static AgentError noWindow(const std::string& app);
    static AgentError noWindowOnThisDesktop(const std::string& app);
    static AgentError couldNotLaunch(const std::string& app, const std::string& reason);
    static AgentError unresolved(const std::string& label);
    static AgentError ambiguous(const std::string& label, std::int64_t count);
    static AgentError stuck(const std::string& description);
    static AgentError unknownAction(const std::string& action);
    static AgentError notInADrivenTake(const std::string& action);
    static AgentError declined();
    static AgentError stopped();
    static AgentError nothingToFrame();
    static AgentError cannotDriveItself();
    static AgentError abortedByDriver();

    Case kind() const { return case_; }

private:
    AgentError(Case c, std::string message) : Error(std::move(message)), case_(c) {}
    Case case_;
};

} // namespace vanto
