#include "platform/linux/LinuxHandoff.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

namespace vanto {
namespace {

namespace fs = std::filesystem;

class LinuxHandoffTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vanto-handoff-XXXXXX").string();
        ASSERT_TRUE(::mkdtemp(pattern.data()));
        folder = pattern;
    }
    void TearDown() override { fs::remove_all(folder); }

    // What the listener took, as its own thread hands it over.
    void took(HandoffRequest request) {
        std::lock_guard lock(mutex);
        taken.push_back(std::move(request));
        takenOnListenerThread = takenOnListenerThread && std::this_thread::get_id() != testThread;
    }

    fs::path folder;
    std::mutex mutex;
    std::vector<HandoffRequest> taken;
    bool takenOnListenerThread = true;
    std::thread::id testThread = std::this_thread::get_id();
};

TEST_F(LinuxHandoffTest, oneWindowListensAndALaterLaunchHandsItsRequestOver) {
    LinuxHandoff window(folder, ":7.0");
    LinuxHandoff launch(folder, ":7");
    LinuxHandoff otherDisplay(folder, ":8");
    EXPECT_FALSE(launch.offer({"/s.json"})) << "nobody listens yet";

    ASSERT_TRUE(window.listen([this](HandoffRequest request) { took(std::move(request)); }));
    EXPECT_FALSE(launch.listen([](HandoffRequest) {})) << "a second window of the same display";
    EXPECT_FALSE(window.listen([](HandoffRequest) {}));
    EXPECT_FALSE(otherDisplay.offer({})) << "each display has a window of its own";

    EXPECT_TRUE(launch.offer({"/home/ana/the tour.json"}));
    EXPECT_TRUE(launch.offer({}));
    EXPECT_EQ(fs::status(window.socketPath()).permissions() & fs::perms::others_all, fs::perms::none);

    // A bad line is answered as refused, and the window goes on serving.
    {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, window.socketPath().c_str());
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        const char bad[] = "{\"sheet\":\"relative.json\"}\n";
        ASSERT_EQ(::send(fd, bad, sizeof bad - 1, 0), static_cast<ssize_t>(sizeof bad - 1));
        char answer[256] = {};
        ASSERT_GT(::recv(fd, answer, sizeof answer - 1, MSG_WAITALL), 0);
        EXPECT_FALSE(handoff::wasTaken(answer)) << answer;
        ::close(fd);
    }
    EXPECT_TRUE(launch.offer({"/again.json"}));

    window.stop();
    EXPECT_FALSE(launch.offer({"/late.json"}));
    EXPECT_FALSE(fs::exists(window.socketPath()));
    std::lock_guard lock(mutex);
    EXPECT_EQ(taken, (std::vector<HandoffRequest>{{"/home/ana/the tour.json"}, {}, {"/again.json"}}));
    EXPECT_TRUE(takenOnListenerThread);
}

TEST_F(LinuxHandoffTest, aSocketACrashedWindowLeftBehindDoesNotBlockTheNext) {
    LinuxHandoff next(folder, ":3");
    // A window that died without cleaning up: its socket file stays, nobody listens on it.
    {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, next.socketPath().c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(fd, 1), 0);
        ::close(fd);
    }
    ASSERT_TRUE(fs::exists(next.socketPath()));
    LinuxHandoff launch(folder, ":3");
    EXPECT_FALSE(launch.offer({})) << "the dead window's socket takes nothing";
    ASSERT_TRUE(next.listen([this](HandoffRequest request) { took(std::move(request)); }));
    EXPECT_TRUE(launch.offer({"/s.json"}));
    std::lock_guard lock(mutex);
    EXPECT_EQ(taken, std::vector<HandoffRequest>{{"/s.json"}});
}

} // namespace
} // namespace vanto
