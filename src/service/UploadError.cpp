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

UploadError UploadError::eventsNotSaved(const std::string& videoID, const std::string& address, const std::string& file,
                                        const std::string& reason) {
    return {Case::eventsNotSaved, "the take uploaded as " + videoID + " but its events could not be saved: " + reason +
                                      ". The video exists at " + address +
                                      ", so do not upload the take again; it is still at " + file + "."};
}

UploadError UploadError::unusableToken() {
    return {Case::unusableToken, "the token has a line break or another control character in it, so it cannot be "
                                 "sent; connect again with the token exactly as the service gave it"};
}

UploadError UploadError::noSuchVideo(const std::string& id) {
    return {Case::noSuchVideo, "no recording of yours has the id " + id};
}

UploadError UploadError::notConnected() {
    return {Case::notConnected, "This computer is not linked to a Vanto account yet, so there is nowhere to send a "
                                "recording. Press Connect in the toolbar and sign in."};
}

UploadError UploadError::signedOut() {
    return {Case::signedOut, "This computer's sign-in to Vanto was revoked. Press Sign out in the toolbar, then "
                             "Connect to sign in again."};
}

} // namespace vanto
