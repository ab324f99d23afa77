#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace vanto::devservice {

struct AccountRecord {
    std::string id;
    std::optional<std::string> email;
    std::optional<std::string> name;
    std::string passwordSalt; // empty: the account cannot sign in with a password
    std::string passwordHash;

    // The profile the API shows: id, and email and name when the account has them.
    nlohmann::json profile() const;
};

// A request the store refuses, in words for the command line or an error body.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The service's state in one folder: accounts.json and tokens.json. Every call reads
// the files afresh under a lock, so the command line may add accounts while a server
// runs on the same folder. Tokens are kept only as SHA-256 hashes.
class Store {
public:
    // Creates the folder (0700) when missing.
    explicit Store(std::filesystem::path folder);

    const std::filesystem::path& folder() const { return folder_; }

    AccountRecord addAccount(const std::optional<std::string>& email, const std::optional<std::string>& name,
                             const std::optional<std::string>& password);

    // A new token for the account; the token itself is returned once and never stored.
    std::string issueToken(const std::string& accountID, const std::string& label);

    std::optional<AccountRecord> accountForToken(const std::string& token);
    std::optional<AccountRecord> accountByEmail(const std::string& email);
    std::optional<AccountRecord> accountByID(const std::string& id);

    // The account when the password is right.
    std::optional<AccountRecord> signIn(const std::string& email, const std::string& password);

    // False when the token was not known (or already revoked).
    bool revokeToken(const std::string& token);

private:
    class Lock;
    nlohmann::json read(const char* file, const char* list);
    void write(const char* file, const nlohmann::json& document);
    std::optional<AccountRecord> findAccount(const std::function<bool(const nlohmann::json&)>& matches);

    std::filesystem::path folder_;
};

} // namespace vanto::devservice
