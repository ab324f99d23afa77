#pragma once

// The desktop window as an assistive technology reads it (libatspi), its elements
// found by the names they carry, and pictures of windows for a person to look at.

#include "Harness.h"

#include <gtest/gtest.h>

#include <atspi/atspi.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vanto::e2e {

namespace fs = std::filesystem;

inline fs::path screenshots() {
    const auto folder = fs::path(vantoBinary()).parent_path() / "screenshots";
    fs::create_directories(folder);
    return folder;
}

// The window's picture as the display shows it, into the build folder.
inline void screenshot(std::uint64_t windowID, const std::string& name) {
    const auto geometry = xwininfo(windowID);
    ASSERT_TRUE(geometry) << "no geometry for " << name;
    const auto file = screenshots() / (name + ".png");
    const char* display = std::getenv("DISPLAY");
    auto grabbed = runCommand(
        {"ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab", "-video_size",
         std::to_string(geometry->width) + "x" + std::to_string(geometry->height), "-i",
         std::string(display ? display : ":0") + "+" + std::to_string(geometry->x) + "," + std::to_string(geometry->y),
         "-frames:v", "1", file.string()},
        20s);
    ASSERT_TRUE(grabbed && grabbed->status == exitedWith(0)) << (grabbed ? grabbed->output : "ffmpeg did not end");
    EXPECT_GT(fs::file_size(file), 1000u) << file;
}

// One element of the window as AT-SPI shows it.
struct Node {
    std::string role;
    std::string name;
    std::string description;
    Geometry frame;
};

// The window's elements as AT-SPI gives them, read by this test itself through
// libatspi, as an assistive technology would.
class Tree {
public:
    explicit Tree(pid_t pid) : pid_(pid) { atspi_init(); }

    // Every showing element of the program's application, in document order.
    std::vector<Node> read() {
        std::vector<Node> nodes;
        AtspiAccessible* desktop = atspi_get_desktop(0);
        const int apps = atspi_accessible_get_child_count(desktop, nullptr);
        for (int i = 0; i < apps; ++i) {
            AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, nullptr);
            if (!app) continue;
            if (static_cast<pid_t>(atspi_accessible_get_process_id(app, nullptr)) == pid_) walk(app, nodes, 0);
            g_object_unref(app);
        }
        g_object_unref(desktop);
        return nodes;
    }

    // The first showing element with this name (or description), once it is there;
    // with after, the first one that follows an element named so (a dialog's button
    // rather than the window's button of the same name).
    std::optional<Node> waitFor(const std::string& name, Duration timeout = 20s, const std::string& after = "") {
        std::optional<Node> found;
        e2e::waitFor(
            [&] {
                bool past = after.empty();
                for (auto& node : read()) {
                    if (!past) {
                        past = node.name == after || node.description == after;
                        continue;
                    }
                    if (node.name == name || node.description == name) {
                        found = node;
                        return true;
                    }
                }
                return false;
            },
            timeout, 200ms);
        return found;
    }

    bool gone(const std::string& name, Duration timeout = 10s) {
        return e2e::waitFor(
            [&] {
                for (auto& node : read())
                    if (node.name == name || node.description == name) return false;
                return true;
            },
            timeout, 200ms);
    }

    std::string dump() {
        std::string out;
        for (const auto& node : read()) out += node.role + " \"" + node.name + "\" \"" + node.description + "\"\n";
        return out;
    }

private:
    static std::string text(gchar* owned) {
        std::string out = owned ? owned : "";
        g_free(owned);
        return out;
    }

    void walk(AtspiAccessible* element, std::vector<Node>& nodes, int depth) {
        if (depth > 40) return;
        AtspiStateSet* states = atspi_accessible_get_state_set(element);
        const bool showing = states && atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
        if (states) g_object_unref(states);
        if (depth > 0 && !showing) return;
        Node node;
        node.role = text(atspi_accessible_get_role_name(element, nullptr));
        node.name = text(atspi_accessible_get_name(element, nullptr));
        node.description = text(atspi_accessible_get_description(element, nullptr));
        if (AtspiComponent* component = atspi_accessible_get_component_iface(element)) {
            if (AtspiRect* rect = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, nullptr)) {
                node.frame = {rect->x, rect->y, rect->width, rect->height};
                g_free(rect);
            }
            g_object_unref(component);
        }
        if (depth > 0) nodes.push_back(node);
        const int children = atspi_accessible_get_child_count(element, nullptr);
        for (int i = 0; i < children; ++i) {
            AtspiAccessible* child = atspi_accessible_get_child_at_index(element, i, nullptr);
            if (!child) continue;
            walk(child, nodes, depth + 1);
            g_object_unref(child);
        }
    }

    pid_t pid_;
};

inline Json centre(const Node& node) {
    return {{"x", node.frame.x + node.frame.width / 2}, {"y", node.frame.y + node.frame.height / 2}};
}

} // namespace vanto::e2e
