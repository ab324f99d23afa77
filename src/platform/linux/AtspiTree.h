#pragma once

#include "platform/Accessibility.h"
#include "platform/linux/AtspiBus.h"
#include "platform/linux/AtspiWindows.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace vanto::atspi {

// One application's connection on the bus, shared by the handles of its objects.
struct App {
    std::string bus;
    std::int32_t pid = 0;
    int timeoutMs = defaultTimeoutMs;
};

class Element final : public AXUIElement {
public:
    Element(std::shared_ptr<App> app, std::string path) : app(std::move(app)), path(std::move(path)) {}
    bool isSame(const AXUIElement& other) const override;
    ObjectRef ref() const { return {app->bus, path}; }

    std::shared_ptr<App> app;
    std::string path;
};

const Element* element(const AXRef& ref);

struct RefHash {
    std::size_t operator()(const ObjectRef& ref) const;
};

// What one read learned of one object. Each part is asked at most once per read, and
// nothing outlives the read: the next one asks the application again.
struct Node {
    bool basics = false;
    std::uint32_t role = 0; // ATSPI_ROLE_INVALID
    std::string name;
    std::string description;
    std::uint64_t states = 0;
    std::uint32_t interfaces = 0;

    bool childrenKnown = false;
    std::vector<ObjectRef> children;
    bool parentKnown = false;
    std::optional<ObjectRef> parent;

    bool extentsKnown = false;
    std::optional<Rect> extents;
    bool attributesKnown = false;
    std::map<std::string, std::string> attributes;
    bool relationsKnown = false;
    std::vector<ObjectRef> labelFor;
    std::vector<ObjectRef> labelledBy;
    bool textKnown = false;
    std::optional<std::string> text;
    bool valueKnown = false;
    std::optional<double> value;
    bool uriKnown = false;
    std::optional<std::string> uri;
};

// One read of one or more applications' objects: each fill asks all of its objects at
// once, in one pipeline.
class Reading {
public:
    // answersWhole: per application bus, whether its toolkit may be asked for all of an
    // object's properties in one call; learnt on first contact and kept with pidOfBus.
    Reading(Bus& bus, WindowManager& windows, std::map<std::string, std::int32_t>& pidOfBus,
            std::map<std::string, bool>& answersWhole, std::shared_ptr<App> app)
        : bus_(bus), windows_(windows), pidOfBus_(pidOfBus), answersWhole_(answersWhole), app_(std::move(app)) {}

    Node& node(const ObjectRef& ref) { return nodes_[ref]; }
    AXRef handle(const ObjectRef& ref);
    std::vector<AXRef> handles(const std::vector<ObjectRef>& refs);

    void fillBasics(const std::vector<ObjectRef>& refs);
    void fillChildren(const std::vector<ObjectRef>& refs);
    void fillParents(const std::vector<ObjectRef>& refs);
    void fillExtents(const std::vector<ObjectRef>& refs);
    void fillAttributes(const std::vector<ObjectRef>& refs);
    void fillRelations(const std::vector<ObjectRef>& refs);
    void fillText(const std::vector<ObjectRef>& refs);
    void fillValue(const std::vector<ObjectRef>& refs);
    void fillURI(const std::vector<ObjectRef>& refs);

    // What the attributes of the vocabulary read from a node whose parts were filled.
    AXValue value(const Node& node) const;
    static std::string attributeNamed(const Node& node, std::initializer_list<const char*> names);
    std::string placeholder(const Node& node) const;

    // The subtree under root as records, bounded, in document order. The application's
    // Cache answers most of it in one call; what it leaves out is read level by level.
    // Asked only for what shows, it reads nothing more of what its toolkit says is hidden.
    std::vector<AXNodeRecord> snapshot(const ObjectRef& root, AXTreeBounds bounds);

private:
    template <class Need, class Build, class Take>
    void fill(const std::vector<ObjectRef>& refs, Need need, Build build, Take take);
    // Between these, fills only queue their calls, and the queue goes out as one
    // pipeline: the application answers one call after another without waiting on us.
    void beginBatch() { batching_ = true; }
    void sendBatch();
    void loadCache(const std::string& bus);
    int timeoutMs() const { return app_->timeoutMs; }
    std::int32_t pidOf(const std::string& bus) const;
    // Learns, for the buses of refs not met before, whether their toolkit answers GetAll.
    void learnToolkits(const std::vector<ObjectRef>& refs);

    Bus& bus_;
    WindowManager& windows_;
    std::map<std::string, std::int32_t>& pidOfBus_;
    std::map<std::string, bool>& answersWhole_;
    std::shared_ptr<App> app_;
    std::unordered_map<ObjectRef, Node, RefHash> nodes_;
    bool batching_ = false;
    std::vector<Message> queued_;
    std::vector<std::pair<ObjectRef, std::function<void(Node&, DBusMessage*)>>> takers_;
};

} // namespace vanto::atspi
