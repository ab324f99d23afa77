#include "platform/fake/ScriptedHttp.h"

#include <stdexcept>

namespace vanto::fake {

void ScriptedHttp::answer(long status, std::string body, Headers headers) {
    std::lock_guard lock(mutex_);
    script_.emplace_back(Response{status, std::move(headers), std::move(body)});
}

void ScriptedHttp::fail(HttpTransportError error) {
    std::lock_guard lock(mutex_);
    script_.emplace_back(std::make_exception_ptr(std::move(error)));
}

Http::Response ScriptedHttp::send(const Request& request, std::stop_token) {
    Entry entry;
    {
        std::lock_guard lock(mutex_);
        sent_.push_back({request, clock_ ? clock_->now() : 0});
        if (!script_.empty()) {
            last_ = script_.front();
            script_.pop_front();
        }
        if (!last_) throw std::logic_error("ScriptedHttp has no answer scripted");
        entry = *last_;
    }
    if (auto* error = std::get_if<std::exception_ptr>(&entry)) std::rethrow_exception(*error);
    return std::get<Response>(entry);
}

std::vector<ScriptedHttp::Sent> ScriptedHttp::sent() {
    std::lock_guard lock(mutex_);
    return sent_;
}

} // namespace vanto::fake
