#include "service/UploadError.h"

namespace vanto {

UploadError UploadError::badAPIBase(const std::string& apiBase) {
    return {Case::badAPIBase, "not a usable API base: " + apiBase};
}

UploadError UploadError::http(int status, const std::string& message) {
    UploadError error(Case::http,
                      "the API returned " + std::to_string(status) + (message.empty() ? "" : ": " + message));
    error.status_ = status;
    error.serviceMessage_ = message;
    return error;
}

UploadError UploadError::malformedResponse(const std::string& path) {
    return {Case::malformedResponse, "unexpected response from " + path};
}

UploadError UploadError::emptyFile(const std::string& path) {
    return {Case::emptyFile, "nothing to upload: " + path + " is empty"};
}

UploadError UploadError::takeNotPlaced(const std::string& uploadID, const std::string& into,
                                       const std::string& reason) {
    return {Case::takeNotPlaced, "the take uploaded as " + uploadID + " but could not be placed in " + into + ": " +
                                     reason + ". " + "The recording is safe at /videos/" + uploadID +
                                     " - it is not listed with your demos, " + "because it was recorded into one."};
}

UploadError UploadError::noSuchVideo(const std::string& id) {
    return {Case::noSuchVideo, "no recording of yours has the id " + id};
}

UploadError UploadError::notConnected() {
    return {Case::notConnected, "This Mac is not linked to a Vanto account yet, so there is nowhere to send a "
                                "recording. Press Connect in the toolbar and sign in."};
}

UploadError UploadError::signedOut() {
    return {Case::signedOut, "This Mac's sign-in to Vanto was revoked. Press Sign out in the toolbar, then "
                             "Connect to sign in again."};
}

} // namespace vanto
