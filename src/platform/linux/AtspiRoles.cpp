#include "platform/linux/AtspiRoles.h"

#include <atspi/atspi-constants.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <string>

namespace vanto::atspi {
namespace {

constexpr RoleEntry table[] = {
    {ATSPI_ROLE_PUSH_BUTTON, "AXButton", ""},
    // A button that stays pressed or not (aria-pressed), and a switch (role "switch"),
    // which Chromium and GTK both give this role: their value is their state.
    {ATSPI_ROLE_TOGGLE_BUTTON, "AXSwitch", ""},
    {ATSPI_ROLE_PUSH_BUTTON_MENU, "AXMenuButton", ""},
    {ATSPI_ROLE_LINK, "AXLink", ""},
    {ATSPI_ROLE_ENTRY, "AXTextField", ""},
    {ATSPI_ROLE_PASSWORD_TEXT, "AXTextField", "AXSecureTextField"},
    {ATSPI_ROLE_TEXT, "AXTextField", ""},
    {ATSPI_ROLE_SPIN_BUTTON, "AXTextField", ""},
    {ATSPI_ROLE_TERMINAL, "AXTextArea", ""},
    {ATSPI_ROLE_CHECK_BOX, "AXCheckBox", ""},
    {ATSPI_ROLE_CHECK_MENU_ITEM, "AXCheckBox", ""},
    {ATSPI_ROLE_RADIO_BUTTON, "AXRadioButton", ""},
    {ATSPI_ROLE_RADIO_MENU_ITEM, "AXRadioButton", ""},
    {ATSPI_ROLE_COMBO_BOX, "AXComboBox", ""},
    {ATSPI_ROLE_MENU, "AXPopUpButton", ""},
    {ATSPI_ROLE_MENU_ITEM, "AXMenuItem", ""},
    {ATSPI_ROLE_TEAROFF_MENU_ITEM, "AXMenuItem", ""},
    {ATSPI_ROLE_MENU_BAR, "AXMenuBar", ""},
    {ATSPI_ROLE_POPUP_MENU, "AXMenu", ""},
    {ATSPI_ROLE_DOCUMENT_WEB, "AXWebArea", ""},
    {ATSPI_ROLE_DOCUMENT_FRAME, "AXWebArea", ""},
    {ATSPI_ROLE_HEADING, "AXHeading", ""},
    {ATSPI_ROLE_STATIC, "AXStaticText", ""},
    {ATSPI_ROLE_LABEL, "AXStaticText", ""},
    {ATSPI_ROLE_PARAGRAPH, "AXStaticText", ""},
    {ATSPI_ROLE_CAPTION, "AXStaticText", ""},
    {ATSPI_ROLE_ACCELERATOR_LABEL, "AXStaticText", ""},
    {ATSPI_ROLE_SCROLL_PANE, "AXScrollArea", ""},
    {ATSPI_ROLE_VIEWPORT, "AXScrollArea", ""},
    {ATSPI_ROLE_SCROLL_BAR, "AXScrollBar", ""},
    {ATSPI_ROLE_FRAME, "AXWindow", "AXStandardWindow"},
    {ATSPI_ROLE_WINDOW, "AXWindow", ""},
    {ATSPI_ROLE_DIALOG, "AXWindow", "AXDialog"},
    {ATSPI_ROLE_FILE_CHOOSER, "AXWindow", "AXDialog"},
    {ATSPI_ROLE_ALERT, "AXWindow", "AXDialog"},
    {ATSPI_ROLE_APPLICATION, "AXApplication", ""},
    {ATSPI_ROLE_IMAGE, "AXImage", ""},
    {ATSPI_ROLE_ICON, "AXImage", ""},
    {ATSPI_ROLE_IMAGE_MAP, "AXImage", ""},
    {ATSPI_ROLE_PAGE_TAB, "AXTab", ""},
    {ATSPI_ROLE_PAGE_TAB_LIST, "AXTabGroup", ""},
    {ATSPI_ROLE_SLIDER, "AXSlider", ""},
    {ATSPI_ROLE_PROGRESS_BAR, "AXProgressIndicator", ""},
    {ATSPI_ROLE_LEVEL_BAR, "AXProgressIndicator", ""},
    {ATSPI_ROLE_TOOL_BAR, "AXToolbar", ""},
    {ATSPI_ROLE_LIST, "AXList", ""},
    {ATSPI_ROLE_LIST_BOX, "AXList", ""},
    {ATSPI_ROLE_DESCRIPTION_LIST, "AXList", ""},
    {ATSPI_ROLE_LIST_ITEM, "AXRow", ""},
    {ATSPI_ROLE_TREE_ITEM, "AXRow", ""},
    {ATSPI_ROLE_TABLE_ROW, "AXRow", ""},
    {ATSPI_ROLE_TABLE, "AXTable", ""},
    {ATSPI_ROLE_TREE_TABLE, "AXTable", ""},
    {ATSPI_ROLE_TREE, "AXTable", ""},
    {ATSPI_ROLE_TABLE_CELL, "AXCell", ""},
    {ATSPI_ROLE_SEPARATOR, "AXSplitter", ""},
    {ATSPI_ROLE_INVALID, "", ""},
};

const RoleEntry* entryOf(std::uint32_t role) {
    const auto* it =
        std::find_if(std::begin(table), std::end(table), [&](const RoleEntry& entry) { return entry.atspi == role; });
    return it == std::end(table) ? nullptr : it;
}

bool hasState(std::uint64_t states, AtspiStateType state) {
    return (states >> static_cast<unsigned>(state)) & 1u;
}

} // namespace

std::span<const RoleEntry> roleTable() {
    return table;
}

const char* roleName(std::uint32_t role) {
    const RoleEntry* entry = entryOf(role);
    return entry ? entry->role : "AXGroup";
}

const char* subroleName(std::uint32_t role) {
    const RoleEntry* entry = entryOf(role);
    return entry ? entry->subrole : "";
}

bool isTextRole(std::uint32_t role) {
    return role == ATSPI_ROLE_ENTRY || role == ATSPI_ROLE_PASSWORD_TEXT || role == ATSPI_ROLE_TEXT ||
           role == ATSPI_ROLE_SPIN_BUTTON || role == ATSPI_ROLE_TERMINAL || role == ATSPI_ROLE_COMBO_BOX;
}

bool isToggleRole(std::uint32_t role) {
    return role == ATSPI_ROLE_CHECK_BOX || role == ATSPI_ROLE_RADIO_BUTTON || role == ATSPI_ROLE_CHECK_MENU_ITEM ||
           role == ATSPI_ROLE_RADIO_MENU_ITEM || role == ATSPI_ROLE_TOGGLE_BUTTON;
}

bool isRangeRole(std::uint32_t role) {
    return role == ATSPI_ROLE_SLIDER || role == ATSPI_ROLE_PROGRESS_BAR || role == ATSPI_ROLE_SCROLL_BAR ||
           role == ATSPI_ROLE_LEVEL_BAR || role == ATSPI_ROLE_DIAL;
}

bool isWindowRole(std::uint32_t role) {
    return role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW || role == ATSPI_ROLE_DIALOG ||
           role == ATSPI_ROLE_FILE_CHOOSER || role == ATSPI_ROLE_ALERT;
}

bool isDocumentRole(std::uint32_t role) {
    return role == ATSPI_ROLE_DOCUMENT_WEB || role == ATSPI_ROLE_DOCUMENT_FRAME;
}

bool canTitle(std::uint32_t role) {
    return role == ATSPI_ROLE_LABEL || role == ATSPI_ROLE_CAPTION;
}

bool isTextRun(std::uint32_t role) {
    return role == ATSPI_ROLE_STATIC;
}

StateFlags stateFlags(std::uint64_t states) {
    StateFlags flags;
    flags.enabled = hasState(states, ATSPI_STATE_ENABLED) || hasState(states, ATSPI_STATE_SENSITIVE);
    flags.focused = hasState(states, ATSPI_STATE_FOCUSED);
    flags.selected = hasState(states, ATSPI_STATE_SELECTED);
    flags.checked = hasState(states, ATSPI_STATE_CHECKED) || hasState(states, ATSPI_STATE_PRESSED);
    flags.minimized = hasState(states, ATSPI_STATE_ICONIFIED);
    flags.active = hasState(states, ATSPI_STATE_ACTIVE);
    flags.showing = hasState(states, ATSPI_STATE_SHOWING);
    return flags;
}

bool answersGetAll(std::string_view toolkit) {
    // GTK says "gtk" (GAIL in GTK 2), Chromium and Electron "Chromium", Firefox "Gecko".
    constexpr std::string_view known[] = {"gtk", "gail", "chromium", "gecko"};
    std::string lower(toolkit);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(std::begin(known), std::end(known), lower) != std::end(known);
}

} // namespace vanto::atspi
