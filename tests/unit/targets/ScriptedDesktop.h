#pragma once

// A scripted desktop for clicking, choosing and scrolling: one application with one
// window holding a web page, an engine over the fake platform and its virtual clock
// (sleeps pass at once), input that the scene can react to, and every progress line
// kept. Tests add elements, say what a click on them does, and read the lines.

#include "engine/Engine.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakePlatform.h"
#include "targets/Targeting.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <vector>

namespace vanto::testing {

class ScriptedDesktop {
public:
    static constexpr std::int32_t pid = 500;
    static constexpr std::uint32_t windowNumber = 77;
    static constexpr const char* appID = "org.example.Shop";

    explicit ScriptedDesktop(Rect windowFrame = {100, 100, 800, 600}) : frame(windowFrame) {
        fake.windows.addWindow(windowNumber, "Shop", pid, "Shop", windowFrame);
        fake.accessibility.frontmost = pid;
        fake.accessibility.bundleIDs[pid] = appID;
        app = fake.accessibility.addApplication(pid, "Shop");
        window = fake.accessibility.addWindow(app, "Shop", windowFrame);
        // With web content in the window the reader takes its snapshot at once.
        page = window->add("AXWebArea", "Shop page",
                           Rect{windowFrame.x, windowFrame.y + 80, windowFrame.width, windowFrame.height - 80});
        fake.events.onPost = [this](const fake::PostedEvent& event) { react(event); };
    }

    // An element under parent (the page when absent).
    fake::FakeAXNodePtr add(const std::string& role, const std::string& title, Rect at,
                            fake::FakeAXNodePtr parent = nullptr) {
        return (parent ? parent : page)->add(role, title, at);
    }

    // What a left click inside node's frame (as it is when the button comes up) does.
    void onClick(const fake::FakeAXNodePtr& node, std::function<void()> reaction) {
        reactions_.push_back({node, std::move(reaction)});
    }

    // Scrolling moves everything in the page by the wheel's amount, as a browser does.
    void makeScrollable() { scrollable_ = true; }

    // A run's targeting; with an asker, questions go to it and are kept.
    Targeting targeting(std::function<Picker::Outcome(const std::string&)> asker = nullptr) {
        Targeting::Callbacks callbacks;
        callbacks.log = [this](const std::string& line) { lines.push_back(line); };
        if (asker)
            callbacks.ask = [this, asker](const std::string& question, std::int32_t) {
                questions.push_back(question);
                return asker(question);
            };
        return engine.targeting(std::move(callbacks));
    }

    // Left clicks posted, and where.
    std::vector<Point> clicks() const {
        std::vector<Point> at;
        for (const auto& event : fake.events.events)
            if (event.kind == fake::PostedEvent::Kind::mouse && event.mouse == MouseEventType::leftDown)
                at.push_back(event.at);
        return at;
    }

    // The vertical distance scrolled toward the end of the content, in points.
    std::int64_t scrolledDown() const {
        std::int64_t down = 0;
        for (const auto& event : fake.events.events)
            if (event.kind == fake::PostedEvent::Kind::scroll) down -= event.vertical;
        return down;
    }

    // Runs act while the virtual clock moves in small steps instead of leaping: an
    // operation that waits with a deadline on another thread (a window's picture, the
    // recorder) then answers before its deadline, as it would on a real clock.
    template <class Act> auto driven(Act act) {
        fake.clock.setAutoAdvance(false);
        auto result = std::async(std::launch::async, act);
        while (result.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) fake.clock.advance(0.01);
        fake.clock.setAutoAdvance(true);
        return result.get();
    }

    bool logged(const std::string& line) const { return std::ranges::find(lines, line) != lines.end(); }

    fake::FakePlatform fake;
    Platform platform = fake.platform();
    Engine engine{platform};
    Rect frame;
    fake::FakeAXNodePtr app;
    fake::FakeAXNodePtr window;
    fake::FakeAXNodePtr page;
    std::vector<std::string> lines;
    std::vector<std::string> questions;

private:
    struct Reaction {
        fake::FakeAXNodePtr node;
        std::function<void()> run;
    };

    static void shift(const fake::FakeAXNodePtr& node, double dy) {
        for (const auto& child : node->children) {
            if (child->frame) child->frame->y += dy;
            shift(child, dy);
        }
    }

    void react(const fake::PostedEvent& event) {
        if (event.kind == fake::PostedEvent::Kind::scroll && scrollable_) shift(page, event.vertical);
        if (event.kind != fake::PostedEvent::Kind::mouse || event.mouse != MouseEventType::leftUp) return;
        for (auto& reaction : reactions_)
            if (reaction.node->frame && contains(*reaction.node->frame, event.at)) reaction.run();
    }

    std::vector<Reaction> reactions_;
    bool scrollable_ = false;
};

} // namespace vanto::testing
