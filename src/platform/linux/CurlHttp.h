#pragma once

#include "platform/Http.h"

namespace vanto {

// Http over libcurl: HTTP and HTTPS only, no redirects followed (the bearer token
// must never travel to another address), no signals, one easy handle per request.
class CurlHttp final : public Http {
public:
    CurlHttp();
    Response send(const Request& request, std::stop_token stop = {}) override;

    // Answers larger than this are refused rather than held in memory.
    static constexpr std::size_t maxResponseBytes = 64u << 20;
};

} // namespace vanto
