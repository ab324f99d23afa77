#pragma once

#include <string>
#include <string_view>

namespace vanto::devservice {

// Hex of n bytes from OpenSSL's generator.
std::string randomHex(std::size_t bytes);

std::string sha256Hex(std::string_view data);

// PBKDF2-HMAC-SHA256 of the password with the salt, as hex.
std::string passwordHash(std::string_view password, std::string_view salt);

// Compares two strings in time that does not depend on where they differ.
bool sameSecret(std::string_view a, std::string_view b);

} // namespace vanto::devservice
