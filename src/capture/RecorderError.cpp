#include "capture/RecorderError.h"

namespace vanto {

RecorderError RecorderError::missingField(const std::string& name) {
    return {Case::missingField, "missing required field: " + name};
}
RecorderError RecorderError::windowNotFound(std::uint32_t number) {
    return {Case::windowNotFound, "window " + std::to_string(number) + " not found; call list-windows again"};
}
RecorderError RecorderError::unknownKey(const std::string& name) {
    return {Case::unknownKey, "unknown key: " + name};
}
RecorderError RecorderError::alreadyRecording() {
    return {Case::alreadyRecording, "a recording is already in progress"};
}
RecorderError RecorderError::notRecording() {
    return {Case::notRecording, "no recording in progress"};
}
RecorderError RecorderError::displayNotFound() {
    return {Case::displayNotFound, "display not found"};
}
RecorderError RecorderError::accessibilityDenied() {
    return {Case::accessibilityDenied, "accessibility permission required to post input events; send "
                                       R"({"cmd":"permissions","prompt":true})"
                                       " to request it"};
}
RecorderError RecorderError::nothingRecorded() {
    return {Case::nothingRecorded, "no recording to upload; record one first or pass an explicit path"};
}
RecorderError RecorderError::drivingItself() {
    return {Case::drivingItself, "Vanto cannot drive Vanto; name the app the demo is about"};
}

RecorderError RecorderError::outputInUse(const std::string& path) {
    return {Case::outputInUse, "another recording is already writing to " + path};
}
RecorderError RecorderError::outputNotAFile(const std::string& path, bool folder) {
    return {Case::outputNotAFile, "cannot record to " + path +
                                      (folder ? ": it is a folder; name a movie file in it"
                                              : ": it is not a regular file, and a recording replaces only a file")};
}
RecorderError RecorderError::outputFolderMissing(const std::string& path, const std::string& folder) {
    return {Case::outputFolderMissing, "cannot record to " + path + ": the folder " + folder + " does not exist"};
}

} // namespace vanto
