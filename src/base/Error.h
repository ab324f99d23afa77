#pragma once

#include <exception>
#include <string>
#include <utility>

namespace vanto {

// The base of every error family. what() is the sentence the person at the machine
// reads, so families build it once, from their case and payload.
class Error : public std::exception {
public:
    explicit Error(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// Thrown by blocking operations when their stop token is triggered.
class Cancelled : public Error {
public:
    Cancelled() : Error("cancelled") {}
};

} // namespace vanto
