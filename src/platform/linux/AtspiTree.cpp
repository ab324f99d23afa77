#include "platform/linux/AtspiTree.h"

#include "platform/AXTreeOrder.h"
#include "platform/linux/AtspiRoles.h"

#include <atspi/atspi-constants.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <unordered_set>

namespace vanto::atspi {
namespace {

enum InterfaceBit : std::uint32_t { componentBit = 1, textBit = 2, valueBit = 4, documentBit = 8, actionBit = 16 };

std::uint32_t interfaceBit(std::string_view name) {
    if (name == componentInterface) return componentBit;
    if (name == textInterface) return textBit;
    if (name == valueInterface) return valueBit;
    if (name == documentInterface) return documentBit;
    if (name == actionInterface) return actionBit;
    return 0;
}

std::uint32_t interfacesAt(DBusMessageIter& iter) {
    std::uint32_t bits = 0;
    for (const auto& name : stringsAt(iter)) bits |= interfaceBit(name);
    return bits;
}

// One of the accessible's basic properties, from its variant.
void takeBasic(Node& node, const std::string& key, DBusMessageIter& boxed) {
    if (key == "Name") node.name = basicString(boxed).value_or("");
    if (key == "Description") node.description = basicString(boxed).value_or("");
    if (key == "Parent") {
        node.parentKnown = true;
        if (auto parent = refAt(boxed); parent && !isNull(*parent)) node.parent = *parent;
    }
    if (key == "ChildCount" && intAt(boxed) == 0 && !node.childrenKnown) {
        node.childrenKnown = true;
        node.children.clear();
    }
}

} // namespace

bool Element::isSame(const AXUIElement& other) const {
    const auto* theirs = dynamic_cast<const Element*>(&other);
    return theirs && theirs->path == path && theirs->app->bus == app->bus;
}

const Element* element(const AXRef& ref) {
    return dynamic_cast<const Element*>(ref.get());
}

std::size_t RefHash::operator()(const ObjectRef& ref) const {
    return std::hash<std::string>()(ref.path) * 31 + std::hash<std::string>()(ref.bus);
}

std::int32_t Reading::pidOf(const std::string& bus) const {
    if (bus == app_->bus) return app_->pid;
    auto known = pidOfBus_.find(bus);
    return known == pidOfBus_.end() ? 0 : known->second;
}

AXRef Reading::handle(const ObjectRef& ref) {
    if (isNull(ref)) return nullptr;
    if (ref.bus == app_->bus) return std::make_shared<Element>(app_, ref.path);
    auto other = std::make_shared<App>();
    other->bus = ref.bus;
    other->timeoutMs = app_->timeoutMs;
    other->pid = pidOf(ref.bus);
    return std::make_shared<Element>(other, ref.path);
}

std::vector<AXRef> Reading::handles(const std::vector<ObjectRef>& refs) {
    std::vector<AXRef> result;
    for (const auto& ref : refs)
        if (auto made = handle(ref)) result.push_back(std::move(made));
    return result;
}

template <class Need, class Build, class Take>
void Reading::fill(const std::vector<ObjectRef>& refs, Need need, Build build, Take take) {
    std::vector<ObjectRef> wanted;
    std::unordered_set<ObjectRef, RefHash> seen;
    std::vector<Message> requests;
    for (const auto& ref : refs) {
        Node& node = nodes_[ref];
        if (!need(node) || !seen.insert(ref).second) continue;
        wanted.push_back(ref);
        requests.push_back(build(ref));
    }
    if (requests.empty()) return;
    if (batching_) {
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            queued_.push_back(std::move(requests[i]));
            takers_.emplace_back(wanted[i], take);
        }
        return;
    }
    auto replies = bus_.callAll(requests, timeoutMs());
    for (std::size_t i = 0; i < wanted.size(); ++i) take(nodes_[wanted[i]], replies[i].get());
}

void Reading::sendBatch() {
    batching_ = false;
    if (queued_.empty()) return;
    auto replies = bus_.callAll(queued_, timeoutMs());
    for (std::size_t i = 0; i < takers_.size(); ++i) takers_[i].second(nodes_[takers_[i].first], replies[i].get());
    queued_.clear();
    takers_.clear();
}

void Reading::fillBasics(const std::vector<ObjectRef>& refs) {
    auto need = [](const Node& node) { return !node.basics; };
    fill(
        refs, need, [](const ObjectRef& ref) { return methodCall(ref.bus, ref.path, accessibleInterface, "GetRole"); },
        [](Node& node, DBusMessage* reply) { node.role = replyUint32(reply).value_or(ATSPI_ROLE_INVALID); });
    fill(
        refs, need, [](const ObjectRef& ref) { return methodCall(ref.bus, ref.path, accessibleInterface, "GetState"); },
        [](Node& node, DBusMessage* reply) {
            DBusMessageIter iter;
            if (firstArgument(reply, iter)) node.states = statesAt(iter);
        });
    learnToolkits(refs);
    std::vector<ObjectRef> whole, singly;
    for (const auto& ref : refs) (answersWhole_[ref.bus] ? whole : singly).push_back(ref);
    // Name, description, parent and the number of children in one answer.
    fill(
        whole, need,
        [](const ObjectRef& ref) {
            auto request = methodCall(ref.bus, ref.path, propertiesInterface, "GetAll");
            appendStrings(request.get(), {accessibleInterface});
            return request;
        },
        [](Node& node, DBusMessage* reply) {
            node.basics = true;
            // Without an interface list, every interface is worth one try.
            node.interfaces = componentBit | textBit | valueBit | documentBit | actionBit;
            DBusMessageIter iter, entries;
            if (!firstArgument(reply, iter) || dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) return;
            dbus_message_iter_recurse(&iter, &entries);
            while (dbus_message_iter_get_arg_type(&entries) == DBUS_TYPE_DICT_ENTRY) {
                DBusMessageIter entry, boxed;
                dbus_message_iter_recurse(&entries, &entry);
                const auto key = basicString(entry).value_or("");
                dbus_message_iter_next(&entry);
                if (dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_VARIANT) {
                    dbus_message_iter_recurse(&entry, &boxed);
                    takeBasic(node, key, boxed);
                }
                dbus_message_iter_next(&entries);
            }
        });
    // The same four, one call each. Only the last answer marks the node read, so that
    // unbatched fills still ask for the rest.
    for (const char* property : {"Name", "Description", "Parent", "ChildCount"}) {
        const std::string key = property;
        const bool last = key == "ChildCount";
        fill(
            singly, need,
            [property](const ObjectRef& ref) {
                auto request = methodCall(ref.bus, ref.path, propertiesInterface, "Get");
                appendStrings(request.get(), {accessibleInterface, property});
                return request;
            },
            [key, last](Node& node, DBusMessage* reply) {
                if (last) {
                    node.basics = true;
                    node.interfaces = componentBit | textBit | valueBit | documentBit | actionBit;
                }
                DBusMessageIter iter, boxed;
                if (!firstArgument(reply, iter) || dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_VARIANT) return;
                dbus_message_iter_recurse(&iter, &boxed);
                takeBasic(node, key, boxed);
            });
    }
}

void Reading::learnToolkits(const std::vector<ObjectRef>& refs) {
    std::vector<std::string> unknown;
    std::vector<Message> requests;
    for (const auto& ref : refs) {
        if (answersWhole_.contains(ref.bus) || std::find(unknown.begin(), unknown.end(), ref.bus) != unknown.end())
            continue;
        unknown.push_back(ref.bus);
        auto request = methodCall(ref.bus, rootPath, propertiesInterface, "Get");
        appendStrings(request.get(), {applicationInterface, "ToolkitName"});
        requests.push_back(std::move(request));
    }
    if (requests.empty()) return;
    auto replies = bus_.callAll(requests, timeoutMs());
    for (std::size_t i = 0; i < unknown.size(); ++i) {
        DBusMessageIter iter, boxed;
        std::string toolkit;
        if (firstArgument(replies[i].get(), iter) && dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_VARIANT) {
            dbus_message_iter_recurse(&iter, &boxed);
            toolkit = basicString(boxed).value_or("");
        }
        answersWhole_[unknown[i]] = answersGetAll(toolkit);
    }
}

void Reading::fillChildren(const std::vector<ObjectRef>& refs) {
    // Leaves say so in their properties, which are read anyway.
    fillBasics(refs);
    fill(
        refs, [](const Node& node) { return !node.childrenKnown; },
        [](const ObjectRef& ref) { return methodCall(ref.bus, ref.path, accessibleInterface, "GetChildren"); },
        [](Node& node, DBusMessage* reply) {
            DBusMessageIter iter;
            node.childrenKnown = true;
            if (firstArgument(reply, iter)) node.children = refsAt(iter);
        });
}

void Reading::fillParents(const std::vector<ObjectRef>& refs) {
    fill(
        refs, [](const Node& node) { return !node.parentKnown; },
        [](const ObjectRef& ref) {
            auto request = methodCall(ref.bus, ref.path, propertiesInterface, "Get");
            appendStrings(request.get(), {accessibleInterface, "Parent"});
            return request;
        },
        [](Node& node, DBusMessage* reply) {
            node.parentKnown = true;
            DBusMessageIter iter, inner;
            if (!firstArgument(reply, iter) || dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_VARIANT) return;
            dbus_message_iter_recurse(&iter, &inner);
            if (auto parent = refAt(inner); parent && !isNull(*parent)) node.parent = *parent;
        });
}

void Reading::fillExtents(const std::vector<ObjectRef>& refs) {
    fillBasics(refs);
    std::vector<ObjectRef> rest;
    for (const auto& ref : refs) {
        Node& node = nodes_[ref];
        if (node.extentsKnown) continue;
        // A top-level window is where the window manager says it is.
        if (isWindowRole(node.role))
            if (auto window = windows_.find(pidOf(ref.bus), node.name)) {
                node.extentsKnown = true;
                node.extents = windows_.geometry(*window);
                continue;
            }
        rest.push_back(ref);
    }
    fill(
        rest, [](const Node& node) { return !node.extentsKnown; },
        [](const ObjectRef& ref) {
            auto request = methodCall(ref.bus, ref.path, componentInterface, "GetExtents");
            appendUint32(request.get(), ATSPI_COORD_TYPE_SCREEN);
            return request;
        },
        [](Node& node, DBusMessage* reply) {
            node.extentsKnown = true;
            DBusMessageIter iter, fields;
            if (!firstArgument(reply, iter) || dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_STRUCT) return;
            dbus_message_iter_recurse(&iter, &fields);
            int values[4] = {0, 0, 0, 0};
            for (int i = 0; i < 4; ++i) {
                auto value = intAt(fields);
                if (!value) return;
                values[i] = *value;
                dbus_message_iter_next(&fields);
            }
            // Scrolled out of a list: GTK says INT_MIN, meaning nowhere on screen.
            if (values[0] == INT_MIN || values[1] == INT_MIN) return;
            node.extents = Rect{double(values[0]), double(values[1]), double(values[2]), double(values[3])};
        });
}

void Reading::fillAttributes(const std::vector<ObjectRef>& refs) {
    fill(
        refs, [](const Node& node) { return !node.attributesKnown; },
        [](const ObjectRef& ref) { return methodCall(ref.bus, ref.path, accessibleInterface, "GetAttributes"); },
        [](Node& node, DBusMessage* reply) {
            node.attributesKnown = true;
            DBusMessageIter iter;
            if (firstArgument(reply, iter)) node.attributes = dictionaryAt(iter);
        });
}

void Reading::fillRelations(const std::vector<ObjectRef>& refs) {
    fill(
        refs, [](const Node& node) { return !node.relationsKnown; },
        [](const ObjectRef& ref) { return methodCall(ref.bus, ref.path, accessibleInterface, "GetRelationSet"); },
        [](Node& node, DBusMessage* reply) {
            node.relationsKnown = true;
            DBusMessageIter iter, relations;
            if (!firstArgument(reply, iter) || dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) return;
            dbus_message_iter_recurse(&iter, &relations);
            while (dbus_message_iter_get_arg_type(&relations) == DBUS_TYPE_STRUCT) {
                DBusMessageIter relation;
                dbus_message_iter_recurse(&relations, &relation);
                if (auto type = uint32At(relation)) {
                    dbus_message_iter_next(&relation);
                    auto targets = refsAt(relation);
                    if (*type == ATSPI_RELATION_LABEL_FOR) node.labelFor = std::move(targets);
                    if (*type == ATSPI_RELATION_LABELLED_BY) node.labelledBy = std::move(targets);
                }
                dbus_message_iter_next(&relations);
            }
        });
}

void Reading::fillText(const std::vector<ObjectRef>& refs) {
    fill(
        refs, [](const Node& node) { return !node.textKnown && (node.interfaces & textBit); },
        [](const ObjectRef& ref) {
            auto request = methodCall(ref.bus, ref.path, textInterface, "GetText");
            appendInts(request.get(), {0, -1});
            return request;
        },
        [](Node& node, DBusMessage* reply) {
            node.textKnown = true;
            node.text = replyString(reply);
        });
}

void Reading::fillValue(const std::vector<ObjectRef>& refs) {
    fill(
        refs, [](const Node& node) { return !node.valueKnown && (node.interfaces & valueBit); },
        [](const ObjectRef& ref) {
            auto request = methodCall(ref.bus, ref.path, propertiesInterface, "Get");
            appendStrings(request.get(), {valueInterface, "CurrentValue"});
            return request;
        },
        [](Node& node, DBusMessage* reply) {
            node.valueKnown = true;
            DBusMessageIter iter, inner;
            if (!firstArgument(reply, iter) || dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_VARIANT) return;
            dbus_message_iter_recurse(&iter, &inner);
            if (dbus_message_iter_get_arg_type(&inner) != DBUS_TYPE_DOUBLE) return;
            double current = 0;
            dbus_message_iter_get_basic(&inner, &current);
            node.value = current;
        });
}

void Reading::fillURI(const std::vector<ObjectRef>& refs) {
    fill(
        refs, [](const Node& node) { return !node.uriKnown && (node.interfaces & documentBit); },
        [](const ObjectRef& ref) {
            auto request = methodCall(ref.bus, ref.path, documentInterface, "GetAttributeValue");
            appendStrings(request.get(), {"URI"});
            return request;
        },
        [](Node& node, DBusMessage* reply) {
            node.uriKnown = true;
            node.uri = replyString(reply);
        });
}

AXValue Reading::value(const Node& node) const {
    // A pressed toggle button says "pressed"; switches and check boxes "checked".
    if (isToggleRole(node.role)) return stateFlags(node.states).checked ? 1.0 : 0.0;
    if (isTextRole(node.role) && node.text) return *node.text;
    if (isRangeRole(node.role) && node.value) return *node.value;
    return {};
}

std::string Reading::attributeNamed(const Node& node, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (auto it = node.attributes.find(name); it != node.attributes.end() && !it->second.empty()) return it->second;
    return "";
}

std::string Reading::placeholder(const Node& node) const {
    // A placeholder belongs to a text field.
    if (!isTextRole(node.role)) return "";
    return attributeNamed(node, {"placeholder-text", "placeholder"});
}

// Everything the application's Cache holds, in one call. Objects it leaves out, or whose
// children it leaves out, are read one by one.
void Reading::loadCache(const std::string& bus) {
    Message reply =
        bus_.call(methodCall(bus, "/org/a11y/atspi/cache", "org.a11y.atspi.Cache", "GetItems"), timeoutMs());
    DBusMessageIter iter;
    if (!firstArgument(reply.get(), iter) || dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) return;
    struct Listed {
        ObjectRef self;
        ObjectRef parent;
        int index;
    };
    std::vector<Listed> listed;
    std::unordered_map<ObjectRef, int, RefHash> childCounts;
    DBusMessageIter items;
    dbus_message_iter_recurse(&iter, &items);
    while (dbus_message_iter_get_arg_type(&items) == DBUS_TYPE_STRUCT) {
        // (self, application, parent, index in parent, child count, interfaces, name, role,
        // description, states)
        DBusMessageIter field;
        dbus_message_iter_recurse(&items, &field);
        auto self = refAt(field);
        dbus_message_iter_next(&field);
        dbus_message_iter_next(&field);
        auto parent = refAt(field);
        dbus_message_iter_next(&field);
        auto index = intAt(field);
        dbus_message_iter_next(&field);
        auto childCount = intAt(field);
        dbus_message_iter_next(&field);
        const auto interfaces = interfacesAt(field);
        dbus_message_iter_next(&field);
        auto name = basicString(field);
        dbus_message_iter_next(&field);
        auto role = uint32At(field);
        dbus_message_iter_next(&field);
        auto description = basicString(field);
        dbus_message_iter_next(&field);
        const auto states = statesAt(field);
        if (self && self->bus == bus && parent && name && role && description) {
            Node& node = nodes_[*self];
            node.basics = true;
            node.role = *role;
            node.name = *name;
            node.description = *description;
            node.states = states;
            node.interfaces = interfaces;
            node.parentKnown = true;
            node.parent = isNull(*parent) ? std::nullopt : std::optional<ObjectRef>(*parent);
            if (!isNull(*parent) && parent->bus == bus) listed.push_back({*self, *parent, index.value_or(0)});
            childCounts[*self] = childCount.value_or(-1);
        }
        dbus_message_iter_next(&items);
    }
    std::stable_sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) {
        return a.parent.path != b.parent.path ? a.parent.path < b.parent.path : a.index < b.index;
    });
    std::unordered_map<ObjectRef, std::vector<ObjectRef>, RefHash> children;
    for (const auto& entry : listed) children[entry.parent].push_back(entry.self);
    for (auto& [parent, kids] : children) {
        auto count = childCounts.find(parent);
        // The application itself is not listed: its windows are all there is.
        const bool complete =
            count == childCounts.end() ? parent.path == rootPath : count->second == static_cast<int>(kids.size());
        if (!complete) continue;
        Node& node = nodes_[parent];
        node.childrenKnown = true;
        node.children = std::move(kids);
    }
    for (const auto& [self, count] : childCounts)
        if (count == 0) {
            Node& node = nodes_[self];
            node.childrenKnown = true;
            node.children.clear();
        }
}

std::vector<AXNodeRecord> Reading::snapshot(const ObjectRef& root, AXTreeBounds bounds) {
    if (isNull(root)) return {};
    loadCache(root.bus);
    const auto listed = boundedDocumentOrder(root, bounds, [&](const std::vector<ObjectRef>& level) {
        fillChildren(level);
        std::vector<std::vector<ObjectRef>> lists;
        for (const auto& ref : level) {
            auto& kids = lists.emplace_back();
            for (const auto& child : nodes_[ref].children)
                if (!isNull(child)) kids.push_back(child);
        }
        return lists;
    });

    std::vector<ObjectRef> all, shown, attributed, texts, ranges, documents, related;
    for (const auto& entry : listed) all.push_back(entry.ref);
    fillBasics(all);
    // Asked only for what shows, and this toolkit says what shows (the root does): an
    // element that is not showing is nowhere on screen, and the rest of it is not worth a
    // call. A toolkit that never says so has its tree read whole.
    const bool showingOnly = bounds.onScreenOnly && stateFlags(nodes_[root].states).showing;
    auto hidden = [&](const Node& node) { return showingOnly && !stateFlags(node.states).showing; };
    for (const auto& ref : all) {
        if (hidden(nodes_[ref])) continue;
        shown.push_back(ref);
        const auto role = nodes_[ref].role;
        if (!isTextRun(role)) attributed.push_back(ref);
        if (isTextRole(role)) texts.push_back(ref);
        if (isRangeRole(role)) ranges.push_back(ref);
        if (isDocumentRole(role)) documents.push_back(ref);
        // Labels say what they title; fields say what labels them.
        if (canTitle(role) || isTextRole(role)) related.push_back(ref);
    }
    beginBatch();
    fillExtents(shown);
    fillAttributes(attributed);
    fillText(texts);
    fillValue(ranges);
    fillURI(documents);
    fillRelations(related);
    sendBatch();

    std::unordered_map<ObjectRef, std::size_t, RefHash> recordOf;
    for (std::size_t i = 0; i < listed.size(); ++i) recordOf.emplace(listed[i].ref, i);
    auto relatedTo = [&](const std::vector<ObjectRef>& refs) {
        std::vector<AXRelated> found;
        for (const auto& ref : refs) {
            AXRef made = handle(ref);
            if (!made) continue;
            auto at = recordOf.find(ref);
            found.push_back({std::move(made), at == recordOf.end() ? std::nullopt : std::optional(at->second)});
        }
        return found;
    };
    std::vector<AXNodeRecord> records(listed.size());
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const Node& node = nodes_[listed[i].ref];
        AXNodeRecord& record = records[i];
        record.element = handle(listed[i].ref);
        record.parent = listed[i].parent;
        if (!node.basics) continue;
        record.role = roleName(node.role);
        record.subrole = subroleName(node.role);
        record.title = node.name;
        record.description = node.description;
        if (hidden(node)) continue;
        record.value = value(node);
        record.placeholder = placeholder(node);
        record.identifier = attributeNamed(node, {"id"});
        record.frame = node.extents;
        const auto flags = stateFlags(node.states);
        record.enabled = flags.enabled;
        record.focused = flags.focused;
        record.selected = flags.selected;
        if (node.uri && !node.uri->empty()) record.url = *node.uri;
        record.titles = relatedTo(node.labelFor);
        record.labelledBy = relatedTo(node.labelledBy);
    }
    return records;
}

} // namespace vanto::atspi
