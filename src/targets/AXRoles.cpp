#include "targets/AXRoles.h"

#include "base/Text.h"

namespace vanto {

const std::set<std::string>& AXRoles::actionable() {
    static const std::set<std::string> roles{"AXLink",        "AXButton",      "AXTextField", "AXCheckBox",
                                             "AXRadioButton", "AXPopUpButton", "AXMenuItem",  "AXMenuButton",
                                             "AXComboBox",    "AXTextArea"};
    return roles;
}

const std::set<std::string>& AXRoles::web() {
    static const std::set<std::string> roles{"AXWebArea", "AXLink", "AXStaticText", "AXHeading"};
    return roles;
}

const std::set<std::string>& AXRoles::roots() {
    static const std::set<std::string> roles{"AXWebArea", "AXScrollArea", "AXWindow", "AXApplication"};
    return roles;
}

const std::set<std::string>& AXRoles::values() {
    static const std::set<std::string> roles{"AXCheckBox", "AXRadioButton", "AXSwitch"};
    return roles;
}

std::set<std::string> AXRoles::forWord(std::string_view word) {
    const std::string w = text::asciiLower(text::trimWhitespaceAndNewlines(word));
    if (w == "link" || w == "a") return {"axlink"};
    if (w == "button" || w == "btn") return {"axbutton", "axpopupbutton", "axmenubutton"};
    if (w == "input" || w == "field" || w == "textbox" || w == "textarea" || w == "searchbox")
        return {"axtextfield", "axtextarea", "axcombobox", "axsearchfield"};
    if (w == "checkbox" || w == "radio" || w == "toggle" || w == "switch")
        return {"axcheckbox", "axradiobutton", "axswitch"};
    if (w == "tab") return {"axtab", "axradiobutton"};
    if (w == "image" || w == "img") return {"aximage"};
    if (w == "heading") return {"axheading"};
    if (w.starts_with("ax")) return {w};
    return {};
}

} // namespace vanto
