#pragma once

#include "base/Error.h"
#include "platform/Resolver.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vanto {

// Which web addresses a run an assistant asked for may show: public http and https
// pages, the blank page, and the title cards the run wrote itself.
class CloudGuard {
public:
    class Refusal : public Error {
    public:
        static Refusal blocked(const std::string& address);
        const std::string& address() const noexcept { return address_; }

    private:
        Refusal(std::string message, std::string address) : Error(std::move(message)), address_(std::move(address)) {}
        std::string address_;
    };

    // A host name to its addresses as text.
    using Resolve = std::function<std::vector<std::string>(const std::string&)>;

    // Returns when the address may be shown; throws Refusal otherwise.
    static void check(std::string_view address, const std::vector<std::filesystem::path>& allowing,
                      const Resolve& resolve);
    // The same for an address as a browser shows it, perhaps without a scheme. An
    // empty address passes.
    static void checkShown(std::string_view address, const std::vector<std::filesystem::path>& allowing,
                           const Resolve& resolve);

    // False for local names and for numeric spellings of addresses (127.1, 0x7f.0.0.1).
    // The host arrives in lower case.
    static bool nameIsPublic(std::string_view host);

    // The system's lookup as a Resolve.
    static Resolve resolve(Resolver& system);
};

} // namespace vanto
