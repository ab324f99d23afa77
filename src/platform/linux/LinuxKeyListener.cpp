#include "platform/linux/LinuxKeyListener.h"

#include "platform/linux/LinuxKeys.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace vanto {
namespace {

struct Disconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
// XCB hands out replies and errors allocated with malloc.
struct MallocFree {
    void operator()(void* memory) const { std::free(memory); }
};
template <class T> using XcbPointer = std::unique_ptr<T, MallocFree>;

class EventFd {
public:
    EventFd() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~EventFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;
    int get() const { return fd_; }
    void signal() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(fd_, &one, sizeof one);
    }

private:
    int fd_;
};

bool succeeded(xcb_connection_t* connection, xcb_void_cookie_t cookie) {
    XcbPointer<xcb_generic_error_t> error(xcb_request_check(connection, cookie));
    return !error;
}

xcb_void_cookie_t grabKey(xcb_connection_t* connection, xcb_window_t root, xcb_keycode_t key, std::uint16_t modifiers) {
    return xcb_grab_key_checked(connection, 0, root, modifiers, key, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_SYNC);
}

// Grabs every key with every modifier combination, except the combinations another
// client (the window manager) grabbed first: one request for all keys when nobody
// did, else key by key, and for a key somebody grabbed with some modifiers, one
// combination at a time. A grab of AnyKey or AnyModifier fails whole when any part
// of it is taken. Returns how many grabs were made.
int grabEveryKey(xcb_connection_t* connection, xcb_window_t root) {
    if (succeeded(connection, grabKey(connection, root, XCB_GRAB_ANY, XCB_MOD_MASK_ANY))) return 1;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    int grabs = 0;
    std::vector<std::pair<xcb_keycode_t, xcb_void_cookie_t>> perKey;
    for (int key = setup->min_keycode; key <= setup->max_keycode; ++key)
        perKey.emplace_back(static_cast<xcb_keycode_t>(key),
                            grabKey(connection, root, static_cast<xcb_keycode_t>(key), XCB_MOD_MASK_ANY));
    std::vector<xcb_void_cookie_t> perCombination;
    for (const auto& [key, cookie] : perKey) {
        if (succeeded(connection, cookie)) {
            ++grabs;
            continue;
        }
        // The eight modifier bits: Shift, Lock, Control, Mod1…Mod5.
        for (std::uint16_t modifiers = 0; modifiers < 256; ++modifiers)
            perCombination.push_back(grabKey(connection, root, key, modifiers));
    }
    for (xcb_void_cookie_t cookie : perCombination)
        if (succeeded(connection, cookie)) ++grabs;
    return grabs;
}

struct KeyDescription {
    std::uint16_t code = LinuxKeyListener::noVirtualKey;
    std::string characters;
};

// The key's virtual code comes from its plain keysym, as the design's codes name key
// positions; its characters from the level the shift and lock states select, with
// the core protocol's rule for a group that lists only the lower-case letter. The
// map is read at each press, so keys rebound a moment ago read right.
KeyDescription describe(xcb_connection_t* connection, xcb_keycode_t key, std::uint16_t state) {
    KeyDescription description;
    XcbPointer<xcb_get_keyboard_mapping_reply_t> reply(
        xcb_get_keyboard_mapping_reply(connection, xcb_get_keyboard_mapping(connection, key, 1), nullptr));
    if (!reply) return description;
    const int count = xcb_get_keyboard_mapping_keysyms_length(reply.get());
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply.get());
    const xkb_keysym_t plain = count > 0 ? syms[0] : XKB_KEY_NoSymbol;
    xkb_keysym_t shifted = count > 1 ? syms[1] : XKB_KEY_NoSymbol;
    if (shifted == XKB_KEY_NoSymbol) shifted = xkb_keysym_to_upper(plain);
    const bool letter = xkb_keysym_to_upper(plain) != xkb_keysym_to_lower(plain);
    const bool shift = (state & XCB_MOD_MASK_SHIFT) != 0;
    const bool lock = (state & XCB_MOD_MASK_LOCK) != 0 && letter;
    const xkb_keysym_t produced = shift != lock ? shifted : plain;

    if (auto code = linuxkeys::virtualKeyForKeysym(plain)) description.code = *code;
    std::array<char, 16> utf8{};
    const int length = xkb_keysym_to_utf8(produced, utf8.data(), utf8.size());
    if (length > 1) description.characters.assign(utf8.data(), static_cast<std::size_t>(length - 1));
    return description;
}

} // namespace

struct LinuxKeyListener::Connection {
    std::unique_ptr<xcb_connection_t, Disconnect> xcb;
    xcb_window_t root = 0;
    EventFd wake;
};

namespace {

// The listener's loop: every grabbed press goes to the consumer, which decides
// whether it is swallowed or replayed. Ends when woken or when the connection breaks,
// and gives its grabs back on the way out.
void listen(xcb_connection_t* connection, xcb_window_t root, int wake, const KeyListener::Consume& consume,
            const std::atomic<bool>& stopping) {
    std::array<pollfd, 2> waits{pollfd{xcb_get_file_descriptor(connection), POLLIN, 0}, pollfd{wake, POLLIN, 0}};
    while (!stopping && !xcb_connection_has_error(connection)) {
        while (XcbPointer<xcb_generic_event_t> event{xcb_poll_for_event(connection)}) {
            if ((event->response_type & 0x7f) != XCB_KEY_PRESS) continue; // releases of swallowed keys end here
            const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event.get());
            const KeyDescription key = describe(connection, press->detail, press->state);
            bool swallow = false;
            try {
                swallow = consume(key.code, key.characters);
            } catch (...) {
                // A consumer that fails has not asked for the key: it goes on to the application.
            }
            xcb_allow_events(connection, swallow ? XCB_ALLOW_ASYNC_KEYBOARD : XCB_ALLOW_REPLAY_KEYBOARD, press->time);
            xcb_flush(connection);
            if (stopping) break;
        }
        if (stopping) break;
        int ready = ::poll(waits.data(), waits.size(), -1);
        if (ready < 0 && errno != EINTR) break;
        if (waits[1].revents & POLLIN) break;
    }
    xcb_ungrab_key(connection, XCB_GRAB_ANY, root, XCB_MOD_MASK_ANY);
    xcb_flush(connection);
}

} // namespace

LinuxKeyListener::LinuxKeyListener() = default;

LinuxKeyListener::~LinuxKeyListener() {
    stop();
}

bool LinuxKeyListener::start(Consume consume) {
    std::lock_guard lock(mutex_);
    stopLocked();

    auto connection = std::make_unique<Connection>();
    if (connection->wake.get() < 0) return false;
    int screenNumber = 0;
    connection->xcb.reset(xcb_connect(nullptr, &screenNumber));
    if (xcb_connection_has_error(connection->xcb.get())) return false;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection->xcb.get()));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
    if (screens.rem == 0) return false;
    connection->root = screens.data->root;
    if (grabEveryKey(connection->xcb.get(), connection->root) == 0) return false;

    connection_ = std::move(connection);
    stopping_ = false;
    thread_ = std::thread([this, consume = std::move(consume), xcb = connection_->xcb.get(), root = connection_->root,
                           wake = connection_->wake.get()] {
        listenerThread_ = std::this_thread::get_id();
        listen(xcb, root, wake, consume, stopping_);
    });
    return true;
}

void LinuxKeyListener::stop() {
    // Called by the consumer, on the listener's own thread: the loop ends after this
    // key, and whoever stops or starts the listener next joins the thread.
    if (listenerThread_.load() == std::this_thread::get_id()) {
        stopping_ = true;
        return;
    }
    std::lock_guard lock(mutex_);
    stopLocked();
}

void LinuxKeyListener::stopLocked() {
    if (connection_) {
        stopping_ = true;
        connection_->wake.signal();
    }
    if (thread_.joinable()) thread_.join();
    listenerThread_ = std::thread::id{};
    connection_.reset();
}

} // namespace vanto
