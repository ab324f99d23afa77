#pragma once

#include "base/Error.h"

#include <string>

namespace vanto {

class ConnectError : public Error {
public:
    enum class Case { badAPIBase, listenFailed, timedOut, alreadyWaiting };

    static ConnectError badAPIBase(const std::string& apiBase) {
        return {Case::badAPIBase, "not a usable API base: " + apiBase};
    }
    static ConnectError listenFailed() {
        return {Case::listenFailed, "could not listen on 127.0.0.1 for the connect callback"};
    }
    static ConnectError timedOut() {
        return {Case::timedOut, "timed out waiting for the browser; finish the connect page or pass a token directly"};
    }
    static ConnectError alreadyWaiting() {
        return {Case::alreadyWaiting, "already waiting for a connect callback on this port"};
    }

    Case kind() const { return case_; }

private:
    ConnectError(Case c, std::string message) : Error(std::move(message)), case_(c) {}
    Case case_;
};

} // namespace vanto
