#include "Store.h"

#include "Crypto.h"
#include "base/AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>

namespace vanto::devservice {
namespace fs = std::filesystem;
namespace {

constexpr const char* accountsFile = "accounts.json";
constexpr const char* tokensFile = "tokens.json";

std::string lower(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::optional<std::string> optionalText(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

AccountRecord recordOf(const nlohmann::json& entry) {
    return AccountRecord{entry.value("id", ""), optionalText(entry, "email"), optionalText(entry, "name"),
                         entry.value("password_salt", ""), entry.value("password_hash", "")};
}

} // namespace

nlohmann::json AccountRecord::profile() const {
    nlohmann::ordered_json user;
    user["id"] = id;
    if (email) user["email"] = *email;
    if (name) user["name"] = *name;
    return user;
}

// An advisory lock on the folder's ".lock" file for the length of one store call, so
// that a running server and the command line never lose each other's writes.
class Store::Lock {
public:
    explicit Lock(const fs::path& folder) {
        fd_ = ::open((folder / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) throw StoreError("cannot open the lock file in " + folder.string());
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(fd_);
                throw StoreError("cannot lock " + folder.string());
            }
        }
    }
    ~Lock() {
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    int fd_ = -1;
};

Store::Store(fs::path folder) : folder_(std::move(folder)) {
    createFolders(folder_, fs::perms::owner_all);
}

nlohmann::json Store::read(const char* file, const char* list) {
    std::ifstream in(folder_ / file, std::ios::binary);
    nlohmann::json document;
    if (in) {
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        document = nlohmann::json::parse(bytes, nullptr, false);
        if (document.is_discarded()) throw StoreError((folder_ / file).string() + " is not valid JSON");
    }
    if (!document.is_object()) document = nlohmann::json::object();
    if (!document.contains(list) || !document[list].is_array()) document[list] = nlohmann::json::array();
    return document;
}

void Store::write(const char* file, const nlohmann::json& document) {
    writeAtomically(folder_ / file, document.dump(2) + "\n", fs::perms::owner_read | fs::perms::owner_write);
}

AccountRecord Store::addAccount(const std::optional<std::string>& email, const std::optional<std::string>& name,
                                const std::optional<std::string>& password) {
    Lock lock(folder_);
    auto document = read(accountsFile, "accounts");
    if (email) {
        if (email->find('@') == std::string::npos) throw StoreError("not an email address: " + *email);
        for (const auto& entry : document["accounts"])
            if (auto existing = optionalText(entry, "email"); existing && lower(*existing) == lower(*email))
                throw StoreError("an account with the email " + *email + " exists already");
    }
    AccountRecord record{"acct_" + randomHex(8), email, name, "", ""};
    if (password) {
        if (password->empty()) throw StoreError("the password must not be empty");
        record.passwordSalt = randomHex(16);
        record.passwordHash = passwordHash(*password, record.passwordSalt);
    }
    nlohmann::json entry = {{"id", record.id}, {"created_ms", nowMs()}};
    if (email) entry["email"] = *email;
    if (name) entry["name"] = *name;
    if (password) {
        entry["password_salt"] = record.passwordSalt;
        entry["password_hash"] = record.passwordHash;
    }
    document["accounts"].push_back(entry);
    write(accountsFile, document);
    return record;
}

std::string Store::issueToken(const std::string& accountID, const std::string& label) {
    if (!accountByID(accountID)) throw StoreError("no account has the id " + accountID);
    Lock lock(folder_);
    auto document = read(tokensFile, "tokens");
    auto token = "vt_" + randomHex(20);
    document["tokens"].push_back(
        {{"hash", sha256Hex(token)}, {"account", accountID}, {"label", label}, {"created_ms", nowMs()}});
    write(tokensFile, document);
    return token;
}

std::optional<AccountRecord> Store::findAccount(const std::function<bool(const nlohmann::json&)>& matches) {
    Lock lock(folder_);
    auto document = read(accountsFile, "accounts");
    for (const auto& entry : document["accounts"])
        if (entry.is_object() && matches(entry)) return recordOf(entry);
    return std::nullopt;
}

std::optional<AccountRecord> Store::accountByID(const std::string& id) {
    return findAccount([&](const nlohmann::json& entry) { return entry.value("id", "") == id; });
}

std::optional<AccountRecord> Store::accountByEmail(const std::string& email) {
    return findAccount([&](const nlohmann::json& entry) {
        auto existing = optionalText(entry, "email");
        return existing && lower(*existing) == lower(email);
    });
}

std::optional<AccountRecord> Store::accountForToken(const std::string& token) {
    if (token.empty()) return std::nullopt;
    auto hash = sha256Hex(token);
    std::optional<std::string> owner;
    {
        Lock lock(folder_);
        auto document = read(tokensFile, "tokens");
        for (const auto& entry : document["tokens"])
            if (entry.is_object() && sameSecret(entry.value("hash", ""), hash)) owner = entry.value("account", "");
    }
    if (!owner) return std::nullopt;
    return accountByID(*owner);
}

std::optional<AccountRecord> Store::signIn(const std::string& email, const std::string& password) {
    auto account = accountByEmail(email);
    if (!account || account->passwordSalt.empty()) return std::nullopt;
    if (!sameSecret(passwordHash(password, account->passwordSalt), account->passwordHash)) return std::nullopt;
    return account;
}

bool Store::revokeToken(const std::string& token) {
    if (token.empty()) return false;
    auto hash = sha256Hex(token);
    Lock lock(folder_);
    auto document = read(tokensFile, "tokens");
    auto& tokens = document["tokens"];
    auto before = tokens.size();
    tokens.erase(std::remove_if(tokens.begin(), tokens.end(),
                                [&](const nlohmann::json& entry) {
                                    return entry.is_object() && sameSecret(entry.value("hash", ""), hash);
                                }),
                 tokens.end());
    if (tokens.size() == before) return false;
    write(tokensFile, document);
    return true;
}

} // namespace vanto::devservice
