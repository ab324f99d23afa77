#pragma once

#include "base/Error.h"

#include <cstdint>
#include <string>

namespace vanto {

// The control layer's errors.
class RecorderError : public Error {
public:
    enum class Case {
        missingField,
        windowNotFound,
        unknownKey,
        alreadyRecording,
        notRecording,
        displayNotFound,
        accessibilityDenied,
        nothingRecorded,
        drivingItself,
        outputInUse,
        outputNotAFile,
        outputFolderMissing,
    };

    static RecorderError missingField(const std::string& name);
    static RecorderError windowNotFound(std::uint32_t number);
    static RecorderError unknownKey(const std::string& name);
    static RecorderError alreadyRecording();
    static RecorderError notRecording();
    static RecorderError displayNotFound();
    static RecorderError accessibilityDenied();
    static RecorderError nothingRecorded();
    static RecorderError drivingItself();
    static RecorderError outputInUse(const std::string& path);
    // Something other than a movie file is at the output: a folder, or a device, a
    // link or the like.
    static RecorderError outputNotAFile(const std::string& path, bool folder);
    static RecorderError outputFolderMissing(const std::string& path, const std::string& folder);

    Case kind() const { return case_; }

private:
    RecorderError(Case c, std::string message) : Error(std::move(message)), case_(c) {}
    Case case_;
};

} // namespace vanto
