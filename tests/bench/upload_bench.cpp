// Uploading a large take to the devservice on loopback: the vanto binary's "upload"
// against the curl command-line tool sending the same 8 MiB parts as the same
// multipart form in one run, and vanto's peak memory while it uploads.
//   upload_bench [MiB=1024] [rounds=2]
// Prints one JSON line per round and one with the best times.

#include "DevService.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using vanto::test::DevService;
using Clock = std::chrono::steady_clock;

constexpr std::size_t partSize = 8 * 1024 * 1024;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        reset();
        fd_ = std::exchange(other.fd_, -1);
        return *this;
    }
    ~Fd() { reset(); }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// A child with pipes on its standard input and output; reaped with its resource use.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork");
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        in_ = Fd(in[1]);
        out_ = Fd(out[0]);
    }
    ~Child() {
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    void send(const std::string& line) {
        auto text = line + "\n";
        for (std::size_t at = 0; at < text.size();) {
            auto n = ::write(in_.get(), text.data() + at, text.size() - at);
            if (n <= 0) throw std::runtime_error("the child stopped reading");
            at += static_cast<std::size_t>(n);
        }
    }
    std::string line() {
        while (buffer_.find('\n') == std::string::npos) {
            char chunk[4096];
            auto n = ::read(out_.get(), chunk, sizeof chunk);
            if (n <= 0) throw std::runtime_error("the child ended without an answer");
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
        auto end = buffer_.find('\n');
        auto line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
    }
    std::string rest() {
        in_.reset();
        std::string all = buffer_;
        char chunk[4096];
        for (ssize_t n; (n = ::read(out_.get(), chunk, sizeof chunk)) > 0;)
            all.append(chunk, static_cast<std::size_t>(n));
        return all;
    }
    // Ends input, waits; the peak resident size in MiB.
    double finish() {
        in_.reset();
        rusage usage{};
        int status = 0;
        ::wait4(pid_, &status, 0, &usage);
        reaped_ = true;
        return static_cast<double>(usage.ru_maxrss) / 1024.0;
    }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    Fd in_, out_;
    std::string buffer_;
};

void writeTake(const fs::path& file, std::size_t size) {
    std::ofstream out(file, std::ios::binary);
    std::vector<std::uint64_t> block(partSize / 8);
    std::uint64_t state = 0x9e3779b97f4a7c15ull;
    for (std::size_t written = 0; written < size;) {
        for (auto& word : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        auto n = std::min(partSize, size - written);
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        written += n;
    }
}

std::vector<fs::path> splitParts(const fs::path& file, const fs::path& folder) {
    std::vector<fs::path> parts;
    std::ifstream in(file, std::ios::binary);
    std::vector<char> buffer(partSize);
    for (int n = 1;; ++n) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        auto got = in.gcount();
        if (got <= 0) break;
        auto part = folder / ("part-" + std::to_string(n));
        std::ofstream(part, std::ios::binary).write(buffer.data(), got);
        parts.push_back(part);
    }
    return parts;
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

struct VantoRun {
    double seconds = 0;
    double peakMiB = 0;
    std::string id;
};

VantoRun uploadWithVanto(const std::string& token, const fs::path& take) {
    Child vanto({VANTO_BINARY});
    vanto.send(Json{{"cmd", "connect"}, {"token", token}}.dump());
    auto connected = Json::parse(vanto.line());
    if (!connected.value("ok", false)) throw std::runtime_error("connect: " + connected.dump());
    auto start = Clock::now();
    vanto.send(Json{{"cmd", "upload"}, {"path", take.string()}}.dump());
    auto answer = Json::parse(vanto.line());
    VantoRun run;
    run.seconds = seconds(Clock::now() - start);
    if (!answer.value("ok", false)) throw std::runtime_error("upload: " + answer.dump());
    run.id = answer["uploaded"]["id"];
    run.peakMiB = vanto.finish();
    return run;
}

double idleVantoMiB(const std::string& token) {
    Child vanto({VANTO_BINARY});
    vanto.send(Json{{"cmd", "connect"}, {"token", token}}.dump());
    vanto.line();
    vanto.send(R"({"cmd":"account"})");
    vanto.line();
    return vanto.finish();
}

struct CurlRun {
    double seconds = 0;
    std::string id;
};

CurlRun uploadWithCurl(DevService& service, const std::string& token, const std::vector<fs::path>& parts,
                       const fs::path& folder) {
    const vanto::Http::Headers auth = {{"Authorization", "Bearer " + token}, {"Content-Type", "application/json"}};
    auto start = Clock::now();
    auto initiated =
        service.call("POST", "/api/upload/initiate",
                     R"({"filename":"take.mov","content_type":"video/quicktime","mode":"demo","prompt":""})", auth);
    auto session = Json::parse(initiated.body).at("session_id").get<std::string>();

    // The token goes in a config file, never on a command line.
    auto config = folder / "curl.config";
    {
        std::ofstream out(config);
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (i) out << "next\n";
            out << "url = \"" << service.base() << "/api/upload/" << session << "/chunk?part_number=" << i + 1 << "\"\n"
                << "request = \"PUT\"\n"
                << "header = \"Authorization: Bearer " << token << "\"\n"
                << "header = \"Expect:\"\n"
                << "form = \"chunk=@" << parts[i].string() << ";filename=part-" << i + 1
                << ";type=application/octet-stream\"\n"
                << "write-out = \"\\n\"\n"
                << "silent\nshow-error\nfail\n";
        }
    }
    Child curl({"/usr/bin/curl", "-K", config.string()});
    auto output = curl.rest();
    curl.finish();
    auto list = Json::array();
    std::size_t at = 0;
    for (int n = 1; at < output.size(); ++n) {
        auto end = output.find('\n', at);
        auto line = output.substr(at, end - at);
        at = end == std::string::npos ? output.size() : end + 1;
        if (line.empty()) continue;
        list.push_back({{"part_number", n}, {"etag", Json::parse(line).at("etag")}});
    }
    auto completed = service.call("POST", "/api/upload/" + session + "/complete", Json{{"parts", list}}.dump(), auth);
    CurlRun run;
    run.seconds = seconds(Clock::now() - start);
    run.id = Json::parse(completed.body).at("id").get<std::string>();
    return run;
}

std::uint64_t storedSize(DevService& service, const std::string& token, const std::string& id) {
    auto video = service.call("GET", "/api/video/" + id, "", {{"Authorization", "Bearer " + token}});
    return Json::parse(video.body).value("size", std::uint64_t{0});
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? std::stoul(argv[1]) : 1024;
    const int rounds = argc > 2 ? std::stoi(argv[2]) : 2;
    try {
        DevService service({"--quiet"});
        const auto token = service.addAccount("bench@example.test", "Bench");
        vanto::test::TempFolder folder("vanto-upload-bench");
        ::setenv("VANTO_API_BASE", service.base().c_str(), 1);
        ::setenv("VANTO_APP_BASE", service.base().c_str(), 1);
        ::setenv("VANTO_CONFIG", (folder.path() / "config.json").c_str(), 1);

        const auto take = folder.path() / "take.mov";
        writeTake(take, mib * 1024 * 1024);
        fs::create_directories(folder.path() / "parts");
        const auto parts = splitParts(take, folder.path() / "parts");
        const auto size = fs::file_size(take);

        double bestVanto = 1e9, bestCurl = 1e9, peak = 0;
        for (int round = 0; round < rounds; ++round) {
            // Alternate who goes first, so neither always meets a warmer cache.
            VantoRun v;
            CurlRun c;
            if (round % 2 == 0) {
                v = uploadWithVanto(token, take);
                c = uploadWithCurl(service, token, parts, folder.path());
            } else {
                c = uploadWithCurl(service, token, parts, folder.path());
                v = uploadWithVanto(token, take);
            }
            if (storedSize(service, token, v.id) != size || storedSize(service, token, c.id) != size)
                throw std::runtime_error("an upload arrived short");
            bestVanto = std::min(bestVanto, v.seconds);
            bestCurl = std::min(bestCurl, c.seconds);
            peak = std::max(peak, v.peakMiB);
            std::cout << Json{{"round", round + 1},       {"MiB", mib},
                              {"parts", parts.size()},    {"vantoSeconds", v.seconds},
                              {"curlSeconds", c.seconds}, {"ratio", v.seconds / c.seconds},
                              {"vantoPeakMiB", v.peakMiB}}
                             .dump()
                      << std::endl;
            // The service keeps every video; the state folder goes with the service.
        }
        std::cout << Json{{"best", true},
                          {"vantoSeconds", bestVanto},
                          {"curlSeconds", bestCurl},
                          {"ratio", bestVanto / bestCurl},
                          {"goalRatio", 1.2},
                          {"vantoPeakMiB", peak},
                          {"vantoIdlePeakMiB", idleVantoMiB(token)},
                          {"goalPeakMiB", 32}}
                         .dump()
                  << std::endl;
    } catch (const std::exception& error) {
        std::cerr << "upload_bench: " << error.what() << std::endl;
        return 1;
    }
    return 0;
}
