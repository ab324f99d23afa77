#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// AT-SPI's roles and states in the vocabulary of the core: data, with no reads.
namespace vanto::atspi {

struct RoleEntry {
    std::uint32_t atspi; // an AtspiRole
    const char* role;
    const char* subrole; // empty when the role says it all
};

// Every AT-SPI role with a name of its own in the vocabulary; the others are groups.
std::span<const RoleEntry> roleTable();

// "" for ATSPI_ROLE_INVALID (nothing answered), "AXGroup" for a role not in the table.
const char* roleName(std::uint32_t role);
const char* subroleName(std::uint32_t role);

// Roles whose value is their text, their on/off state or their number.
bool isTextRole(std::uint32_t role);
bool isToggleRole(std::uint32_t role);
bool isRangeRole(std::uint32_t role);
bool isWindowRole(std::uint32_t role);
bool isDocumentRole(std::uint32_t role);
// Only labels say which elements they title; asking every element would double a read.
bool canTitle(std::uint32_t role);
// A run of text inside an element (Chromium's text nodes): no id, no placeholder, so its
// attributes are not worth a call, and pages hold hundreds of them.
bool isTextRun(std::uint32_t role);

// What the state set says, in the terms of the vocabulary.
struct StateFlags {
    bool enabled = false;
    bool focused = false;
    bool selected = false;
    bool checked = false; // checked or pressed: the value of a toggle
    bool minimized = false;
    bool active = false;
    bool showing = false;
};
StateFlags stateFlags(std::uint64_t states);

// Whether an application of this toolkit (its Application.ToolkitName) may be asked for
// all of an accessible's properties at once. Qt 6 crashes on that call, so only the
// toolkits seen to answer it are asked; the rest are asked one property at a time.
bool answersGetAll(std::string_view toolkit);

} // namespace vanto::atspi
