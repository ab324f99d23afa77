#include "platform/linux/CurlHttp.h"

#include "base/Text.h"

#include <curl/curl.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>

namespace vanto {
namespace {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlText {
    void operator()(char* text) const { curl_free(text); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using List = std::unique_ptr<curl_slist, ListDeleter>;

struct Origin {
    std::string host;
    std::string text; // scheme://host[:port], never the user part, path or query
};

Origin originOf(const std::string& address) {
    std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0) != CURLUE_OK) return {"", "the service"};
    auto part = [&](CURLUPart which) {
        char* raw = nullptr;
        if (curl_url_get(url.get(), which, &raw, 0) != CURLUE_OK || !raw) return std::string();
        std::unique_ptr<char, CurlText> owned(raw);
        return std::string(owned.get());
    };
    Origin origin{part(CURLUPART_HOST), part(CURLUPART_SCHEME) + "://" + part(CURLUPART_HOST)};
    if (auto port = part(CURLUPART_PORT); !port.empty()) origin.text += ":" + port;
    return origin;
}

struct Exchange {
    const Http::Request& request;
    std::stop_token stop;
    Http::Response response;
    bool tooLarge = false;
    bool readFailed = false;
};

size_t onBody(char* data, size_t size, size_t count, void* context) {
    auto& exchange = *static_cast<Exchange*>(context);
    size_t bytes = size * count;
    if (exchange.response.body.size() + bytes > CurlHttp::maxResponseBytes) {
        exchange.tooLarge = true;
        return 0;
    }
    exchange.response.body.append(data, bytes);
    return bytes;
}

size_t onHeader(char* data, size_t size, size_t count, void* context) {
    auto& exchange = *static_cast<Exchange*>(context);
    size_t bytes = size * count;
    std::string_view line(data, bytes);
    // A new status line (after an interim 100 answer) starts the headers afresh.
    if (line.starts_with("HTTP/")) {
        exchange.response.headers.clear();
        return bytes;
    }
    auto colon = line.find(':');
    if (colon == std::string_view::npos) return bytes;
    auto name = text::asciiLower(text::trimSpaces(line.substr(0, colon)));
    auto value = std::string(line.substr(colon + 1));
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
    exchange.response.headers.emplace_back(std::move(name), text::trimSpaces(value));
    return bytes;
}

size_t onRead(char* buffer, size_t size, size_t count, void* context) {
    auto& exchange = *static_cast<Exchange*>(context);
    try {
        return exchange.request.bodyReader(std::span<char>(buffer, size * count));
    } catch (...) {
        exchange.readFailed = true;
        return CURL_READFUNC_ABORT;
    }
}

int onProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Exchange*>(context)->stop.stop_requested() ? 1 : 0;
}

} // namespace

CurlHttp::CurlHttp() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

Http::Response CurlHttp::send(const Request& request, std::stop_token stop) {
    auto origin = originOf(request.url);
    Easy easy(curl_easy_init());
    if (!easy) throw HttpTransportError::failed(origin.text, "the HTTP library could not start");
    CURL* h = easy.get();
    Exchange exchange{request, stop, {}};

    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    double timeout = std::isfinite(request.timeout) && request.timeout > 0 ? request.timeout : 120;
    // The limit is on silence, not on the whole exchange: a large part on a slow line
    // goes on as long as bytes keep moving. curl measures that in whole seconds.
    auto seconds = static_cast<long>(std::ceil(std::min(timeout, 86400.0)));
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::min(timeout, 86400.0) * 1000));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, seconds);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &exchange);
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");

    List headers;
    auto addHeader = [&](const std::string& line) {
        curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
        if (!grown) throw HttpTransportError::failed(origin.text, "out of memory");
        (void)headers.release();
        headers.reset(grown);
    };
    for (const auto& [name, value] : request.headers) addHeader(name + ": " + value);
    // Bodies go at once; waiting for "100 Continue" only adds a round trip.
    addHeader("Expect:");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

    const auto& method = request.method;
    if (request.bodyReader) {
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_READFUNCTION, onRead);
        curl_easy_setopt(h, CURLOPT_READDATA, &exchange);
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(request.bodyLength));
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (method == "GET" && request.body.empty()) {
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
        curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else {
        if (!request.body.empty() || method == "POST" || method == "PUT" || method == "PATCH") {
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
            curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
        }
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    CURLcode code = curl_easy_perform(h);
    switch (code) {
    case CURLE_OK:
        break;
    case CURLE_ABORTED_BY_CALLBACK:
        if (stop.stop_requested()) throw Cancelled();
        throw HttpTransportError::failed(origin.text, "the request body could not be read");
    case CURLE_READ_ERROR:
        throw HttpTransportError::failed(origin.text, "the request body could not be read");
    case CURLE_WRITE_ERROR:
        if (exchange.tooLarge) throw HttpTransportError::failed(origin.text, "the answer was too large");
        throw HttpTransportError::connectionLost(origin.text);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        throw HttpTransportError::cannotResolve(origin.host.empty() ? origin.text : origin.host);
    case CURLE_COULDNT_CONNECT:
        throw HttpTransportError::cannotConnect(origin.text);
    case CURLE_OPERATION_TIMEDOUT:
        throw HttpTransportError::timedOut(origin.text, timeout);
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        throw HttpTransportError::connectionLost(origin.text);
    default:
        // curl's own wording is fixed text per code and never holds request data.
        throw HttpTransportError::failed(origin.text, text::asciiLower(curl_easy_strerror(code)));
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    exchange.response.status = status;
    return std::move(exchange.response);
}

} // namespace vanto
