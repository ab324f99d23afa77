// The AT-SPI role table against a list recorded from what Chromium and GTK 3 report
// (LINUX-NOTES): every role the backend names, and nothing else named.

#include "platform/linux/AtspiRoles.h"

#include <atspi/atspi-constants.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>

using namespace vanto::atspi;

namespace {

const std::map<std::uint32_t, std::pair<std::string, std::string>> recorded{
    {ATSPI_ROLE_PUSH_BUTTON, {"AXButton", ""}},
    {ATSPI_ROLE_TOGGLE_BUTTON, {"AXSwitch", ""}},
    {ATSPI_ROLE_PUSH_BUTTON_MENU, {"AXMenuButton", ""}},
    {ATSPI_ROLE_LINK, {"AXLink", ""}},
    {ATSPI_ROLE_ENTRY, {"AXTextField", ""}},
    {ATSPI_ROLE_PASSWORD_TEXT, {"AXTextField", "AXSecureTextField"}},
    {ATSPI_ROLE_TEXT, {"AXTextField", ""}},
    {ATSPI_ROLE_SPIN_BUTTON, {"AXTextField", ""}},
    {ATSPI_ROLE_TERMINAL, {"AXTextArea", ""}},
    {ATSPI_ROLE_CHECK_BOX, {"AXCheckBox", ""}},
    {ATSPI_ROLE_CHECK_MENU_ITEM, {"AXCheckBox", ""}},
    {ATSPI_ROLE_RADIO_BUTTON, {"AXRadioButton", ""}},
    {ATSPI_ROLE_RADIO_MENU_ITEM, {"AXRadioButton", ""}},
    {ATSPI_ROLE_COMBO_BOX, {"AXComboBox", ""}},
    {ATSPI_ROLE_MENU, {"AXPopUpButton", ""}},
    {ATSPI_ROLE_MENU_ITEM, {"AXMenuItem", ""}},
    {ATSPI_ROLE_TEAROFF_MENU_ITEM, {"AXMenuItem", ""}},
    {ATSPI_ROLE_MENU_BAR, {"AXMenuBar", ""}},
    {ATSPI_ROLE_POPUP_MENU, {"AXMenu", ""}},
    {ATSPI_ROLE_DOCUMENT_WEB, {"AXWebArea", ""}},
    {ATSPI_ROLE_DOCUMENT_FRAME, {"AXWebArea", ""}},
    {ATSPI_ROLE_HEADING, {"AXHeading", ""}},
    {ATSPI_ROLE_STATIC, {"AXStaticText", ""}},
    {ATSPI_ROLE_LABEL, {"AXStaticText", ""}},
    {ATSPI_ROLE_PARAGRAPH, {"AXStaticText", ""}},
    {ATSPI_ROLE_CAPTION, {"AXStaticText", ""}},
    {ATSPI_ROLE_ACCELERATOR_LABEL, {"AXStaticText", ""}},
    {ATSPI_ROLE_SCROLL_PANE, {"AXScrollArea", ""}},
    {ATSPI_ROLE_VIEWPORT, {"AXScrollArea", ""}},
    {ATSPI_ROLE_SCROLL_BAR, {"AXScrollBar", ""}},
    {ATSPI_ROLE_FRAME, {"AXWindow", "AXStandardWindow"}},
    {ATSPI_ROLE_WINDOW, {"AXWindow", ""}},
    {ATSPI_ROLE_DIALOG, {"AXWindow", "AXDialog"}},
    {ATSPI_ROLE_FILE_CHOOSER, {"AXWindow", "AXDialog"}},
    {ATSPI_ROLE_ALERT, {"AXWindow", "AXDialog"}},
    {ATSPI_ROLE_APPLICATION, {"AXApplication", ""}},
    {ATSPI_ROLE_IMAGE, {"AXImage", ""}},
    {ATSPI_ROLE_ICON, {"AXImage", ""}},
    {ATSPI_ROLE_IMAGE_MAP, {"AXImage", ""}},
    {ATSPI_ROLE_PAGE_TAB, {"AXTab", ""}},
    {ATSPI_ROLE_PAGE_TAB_LIST, {"AXTabGroup", ""}},
    {ATSPI_ROLE_SLIDER, {"AXSlider", ""}},
    {ATSPI_ROLE_PROGRESS_BAR, {"AXProgressIndicator", ""}},
    {ATSPI_ROLE_LEVEL_BAR, {"AXProgressIndicator", ""}},
    {ATSPI_ROLE_TOOL_BAR, {"AXToolbar", ""}},
    {ATSPI_ROLE_LIST, {"AXList", ""}},
    {ATSPI_ROLE_LIST_BOX, {"AXList", ""}},
    {ATSPI_ROLE_DESCRIPTION_LIST, {"AXList", ""}},
    {ATSPI_ROLE_LIST_ITEM, {"AXRow", ""}},
    {ATSPI_ROLE_TREE_ITEM, {"AXRow", ""}},
    {ATSPI_ROLE_TABLE_ROW, {"AXRow", ""}},
    {ATSPI_ROLE_TABLE, {"AXTable", ""}},
    {ATSPI_ROLE_TREE_TABLE, {"AXTable", ""}},
    {ATSPI_ROLE_TREE, {"AXTable", ""}},
    {ATSPI_ROLE_TABLE_CELL, {"AXCell", ""}},
    {ATSPI_ROLE_SEPARATOR, {"AXSplitter", ""}},
    {ATSPI_ROLE_INVALID, {"", ""}},
};

std::uint64_t bits(std::initializer_list<AtspiStateType> states) {
    std::uint64_t set = 0;
    for (auto state : states) set |= std::uint64_t{1} << static_cast<unsigned>(state);
    return set;
}

} // namespace

TEST(AtspiRolesTest, EveryRoleIsNamedAsRecordedAndTheRestAreGroups) {
    std::set<std::uint32_t> mapped;
    for (const auto& entry : roleTable()) EXPECT_TRUE(mapped.insert(entry.atspi).second) << "twice: " << entry.atspi;
    std::set<std::uint32_t> expected;
    for (const auto& [role, names] : recorded) expected.insert(role);
    EXPECT_EQ(mapped, expected);

    for (std::uint32_t role = 0; role < ATSPI_ROLE_LAST_DEFINED; ++role) {
        auto it = recorded.find(role);
        const std::string name = it == recorded.end() ? "AXGroup" : it->second.first;
        const std::string subrole = it == recorded.end() ? "" : it->second.second;
        EXPECT_EQ(roleName(role), name) << "role " << role;
        EXPECT_EQ(subroleName(role), subrole) << "role " << role;
    }
}

TEST(AtspiRolesTest, ValueKindsFollowTheNamedRole) {
    // The core names nameless fields by their labels: every text role must be such a field.
    for (std::uint32_t role = 0; role < ATSPI_ROLE_LAST_DEFINED; ++role) {
        const std::string name = roleName(role);
        if (isTextRole(role)) {
            EXPECT_TRUE(name == "AXTextField" || name == "AXTextArea" || name == "AXComboBox") << role;
        }
        if (isWindowRole(role)) {
            EXPECT_EQ(name, "AXWindow") << role;
        }
        if (isDocumentRole(role)) {
            EXPECT_EQ(name, "AXWebArea") << role;
        }
        if (isToggleRole(role)) {
            EXPECT_TRUE(name == "AXCheckBox" || name == "AXRadioButton" || name == "AXSwitch") << role;
        }
    }
    for (std::uint32_t role = 0; role < ATSPI_ROLE_LAST_DEFINED; ++role) {
        if (isTextRun(role)) {
            EXPECT_FALSE(isTextRole(role)) << "a field's placeholder is an attribute: " << role;
        }
    }
    // Chromium's text nodes are runs; a GTK label is an element of its own.
    EXPECT_TRUE(isTextRun(ATSPI_ROLE_STATIC));
    EXPECT_FALSE(isTextRun(ATSPI_ROLE_LABEL));
    EXPECT_TRUE(canTitle(ATSPI_ROLE_LABEL));
    EXPECT_FALSE(canTitle(ATSPI_ROLE_PUSH_BUTTON));
}

TEST(AtspiRolesTest, StatesBecomeFlags) {
    // Chromium marks an enabled button "enabled", GTK "sensitive"; a disabled one has neither.
    EXPECT_TRUE(stateFlags(bits({ATSPI_STATE_ENABLED})).enabled);
    EXPECT_TRUE(stateFlags(bits({ATSPI_STATE_SENSITIVE})).enabled);
    EXPECT_FALSE(stateFlags(bits({ATSPI_STATE_FOCUSABLE, ATSPI_STATE_SHOWING})).enabled);
    // A pressed toggle button and a checked box both read as on.
    EXPECT_TRUE(stateFlags(bits({ATSPI_STATE_PRESSED})).checked);
    EXPECT_TRUE(stateFlags(bits({ATSPI_STATE_CHECKED})).checked);
    EXPECT_FALSE(stateFlags(bits({ATSPI_STATE_CHECKABLE})).checked);
    // States past the first 32 bits arrive in the second word.
    const auto high = stateFlags(bits(
        {ATSPI_STATE_FOCUSED, ATSPI_STATE_SELECTED, ATSPI_STATE_ICONIFIED, ATSPI_STATE_ACTIVE, ATSPI_STATE_SHOWING}));
    EXPECT_TRUE(high.focused && high.selected && high.minimized && high.active && high.showing);
    const auto none = stateFlags(0);
    EXPECT_FALSE(none.enabled || none.focused || none.selected || none.checked || none.minimized || none.active ||
                 none.showing);
}

TEST(AtspiRolesTest, OnlyToolkitsSeenToAnswerGetAllAreAskedForEverythingAtOnce) {
    for (const char* toolkit : {"gtk", "GTK", "Chromium", "Gecko"}) EXPECT_TRUE(answersGetAll(toolkit)) << toolkit;
    // Qt 6 ends the application on that call; a toolkit we could not learn gets the same care.
    for (const char* toolkit : {"Qt", "", "unknown"}) EXPECT_FALSE(answersGetAll(toolkit)) << toolkit;
}
