#pragma once

#include "base/Error.h"

#include <string>

namespace vanto {

// Everything that can go wrong talking to the service, worded for the person at the
// machine. The token is never part of a message.
class UploadError : public Error {
public:
    enum class Case {
        badAPIBase,
        http,
        malformedResponse,
        emptyFile,
        takeNotPlaced,
        eventsNotSaved,
        noSuchVideo,
        notConnected,
        signedOut,
        unusableToken,
    };

    static UploadError badAPIBase(const std::string& apiBase);
    static UploadError http(int status, const std::string& message);
    static UploadError malformedResponse(const std::string& path);
    static UploadError emptyFile(const std::string& path);
    static UploadError takeNotPlaced(const std::string& uploadID, const std::string& into, const std::string& reason);
    // The video was made but its event log did not follow: uploading again would make a second one.
    static UploadError eventsNotSaved(const std::string& videoID, const std::string& address, const std::string& file,
                                      const std::string& reason);
    static UploadError unusableToken();
    static UploadError noSuchVideo(const std::string& id);
    static UploadError notConnected();
    static UploadError signedOut();

    Case kind() const { return case_; }
    // For http: the status and the service's own message.
    int status() const { return status_; }
    const std::string& serviceMessage() const { return serviceMessage_; }

private:
    UploadError(Case c, std::string message) : Error(std::move(message)), case_(c) {}
    Case case_;
    int status_ = 0;
    std::string serviceMessage_;
};

} // namespace vanto
