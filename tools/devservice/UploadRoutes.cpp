// Upload sessions: a take arrives as numbered multipart parts, each kept in a file of
// its own, and becomes a video when the session is completed.

#include "Faults.h"
#include "Routes.h"

#include <openssl/evp.h>

#include <cctype>
#include <fstream>
#include <memory>

namespace vanto::devservice {
namespace fs = std::filesystem;
namespace {

struct DigestDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// A part on its way in: removed unless it was taken in.
class IncomingFile {
public:
    explicit IncomingFile(fs::path path) : path_(std::move(path)), out_(path_, std::ios::binary | std::ios::trunc) {}
    ~IncomingFile() {
        out_.close();
        if (!kept_) {
            std::error_code ignored;
            fs::remove(path_, ignored);
        }
    }
    IncomingFile(const IncomingFile&) = delete;
    IncomingFile& operator=(const IncomingFile&) = delete;

    bool write(const char* data, std::size_t length) {
        out_.write(data, static_cast<std::streamsize>(length));
        return static_cast<bool>(out_);
    }
    bool finish() {
        out_.close();
        return !out_.fail();
    }
    void keep() { kept_ = true; }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
    std::ofstream out_;
    bool kept_ = false;
};

std::optional<std::int64_t> partNumber(const std::string& text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
    auto number = std::stoll(text);
    if (number < 1 || number > 10000) return std::nullopt;
    return number;
}

std::string hex(const unsigned char* bytes, unsigned length) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < length; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0xf];
    }
    return out;
}

} // namespace

void addUploadRoutes(httplib::Server& server, Service& service, Library& library) {
    server.Post("/api/upload/initiate",
                [&service, &library](const httplib::Request& request, httplib::Response& response) {
                    guarded(response, [&] {
                        if (answerPendingFault(response)) return;
                        auto account = service.bearerAccount(request);
                        if (!account) return sendError(response, 401, "not signed in");
                        auto body = jsonBody(request);
                        if (!body) return sendError(response, 400, "the body must be a JSON object");
                        auto session = library.initiate(account->id, *body);
                        sendJSON(response, 200, {{"session_id", session}, {"part_size", 8 * 1024 * 1024}});
                    });
                });

    server.Put(R"(/api/upload/([^/]+)/chunk)", [&service, &library](const httplib::Request& request,
                                                                    httplib::Response& response,
                                                                    const httplib::ContentReader& reader) {
        // The body is always read to its end, so that the client gets to read the answer
        // rather than a connection closed on what it was still sending.
        bool drained = false;
        auto drain = [&] {
            if (drained) return;
            auto discard = [](const char*, std::size_t) { return true; };
            // httplib reads a form only through its form reader.
            if (request.is_multipart_form_data())
                reader([](const httplib::MultipartFormData&) { return true; }, discard);
            else
                reader(discard);
            drained = true;
        };
        guarded(response, [&] {
            if (answerPendingFault(response)) return drain();
            auto account = service.bearerAccount(request);
            if (!account) {
                drain();
                return sendError(response, 401, "not signed in");
            }
            auto number = partNumber(request.get_param_value("part_number"));
            if (!number) {
                drain();
                return sendError(response, 400, "part_number must be a whole number from 1 to 10000");
            }
            const std::string session = request.matches[1];
            fs::path incomingPath;
            try {
                incomingPath = library.partFile(account->id, session, *number);
            } catch (const LibraryError&) {
                drain();
                throw;
            }
            if (!request.is_multipart_form_data()) {
                drain();
                return sendError(response, 400, "a part is sent as multipart/form-data");
            }
            IncomingFile incoming(incomingPath);
            std::unique_ptr<EVP_MD_CTX, DigestDeleter> digest(EVP_MD_CTX_new());
            if (!digest || EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) != 1)
                throw std::runtime_error("cannot start a digest");
            std::string field;
            int chunks = 0;
            std::uint64_t size = 0;
            bool written = true;
            drained = true;
            bool read = reader(
                [&](const httplib::MultipartFormData& header) {
                    field = header.name;
                    if (field == "chunk") ++chunks;
                    return true;
                },
                [&](const char* data, std::size_t length) {
                    if (field != "chunk" || chunks != 1) return true;
                    written = written && incoming.write(data, length);
                    EVP_DigestUpdate(digest.get(), data, length);
                    size += length;
                    return true;
                });
            if (!read) return sendError(response, 400, "the part's form could not be read");
            if (!written || !incoming.finish()) return sendError(response, 500, "the part could not be stored");
            if (chunks == 0) return sendError(response, 400, "the form has no field named chunk");
            if (chunks > 1) return sendError(response, 400, "the form has more than one field named chunk");
            if (size == 0) return sendError(response, 400, "the part is empty");
            unsigned char bytes[EVP_MAX_MD_SIZE];
            unsigned length = 0;
            EVP_DigestFinal_ex(digest.get(), bytes, &length);
            auto etag = library.acceptPart(account->id, session, *number, incoming.path(), hex(bytes, length));
            incoming.keep();
            sendJSON(response, 200, {{"part_number", *number}, {"etag", etag}, {"size", size}});
        });
    });

    server.Post(R"(/api/upload/([^/]+)/complete)",
                [&service, &library](const httplib::Request& request, httplib::Response& response) {
                    guarded(response, [&] {
                        if (answerPendingFault(response)) return;
                        auto account = service.bearerAccount(request);
                        if (!account) return sendError(response, 401, "not signed in");
                        auto body = jsonBody(request);
                        if (!body || !body->contains("parts"))
                            return sendError(response, 400, "the body must list the parts");
                        auto id = library.complete(account->id, request.matches[1], (*body)["parts"]);
                        sendJSON(response, 200, {{"id", id}});
                    });
                });
}

} // namespace vanto::devservice
