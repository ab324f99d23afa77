#include "platform/linux/LinuxResolver.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <array>
#include <memory>

namespace vanto {

std::vector<std::string> LinuxResolver::addresses(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return {};
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, &freeaddrinfo);

    std::vector<std::string> texts;
    for (const addrinfo* entry = list.get(); entry; entry = entry->ai_next) {
        std::array<char, 1025> text{};
        if (getnameinfo(entry->ai_addr, entry->ai_addrlen, text.data(), text.size(), nullptr, 0, NI_NUMERICHOST) == 0)
            texts.emplace_back(text.data());
    }
    return texts;
}

} // namespace vanto
