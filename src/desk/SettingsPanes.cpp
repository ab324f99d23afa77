#include "desk/SettingsPanes.h"

#include "service/ConfigStore.h"
#include "service/Connector.h"

namespace vanto {

namespace PermissionsPane {

std::string askedKey(Permission permission) {
    return permission == Permission::screenRecording ? "asked.screenRecording" : "asked.accessibility";
}

Row row(Permission permission, bool granted, bool asked) {
    Row row;
    if (permission == Permission::screenRecording) {
        row.title = "Screen Recording";
        row.explanation = "So Vanto can record the window it is driving.";
    } else {
        row.title = "Accessibility";
        row.explanation = "So the pointer really moves and types, and the recording shows it.";
    }
    row.granted = granted;
    row.status = granted ? "Granted" : "Not granted";
    row.button = granted ? "Review" : asked ? "Open Settings" : "Grant";
    return row;
}

Press press(bool granted, bool asked) {
    return granted || asked ? Press::showWhere : Press::ask;
}

TakeFlow::Alert where(Permission permission) {
    // There is no settings page that grants either one on an X11 desktop, so the
    // button says what does.
    if (permission == Permission::screenRecording)
        return {"Screen Recording",
                "On an X11 desktop every program on the display may record it, so there is nothing to grant. "
                "Vanto records through the display named by DISPLAY.",
                {"OK"}};
    return {"Accessibility",
            "Accessibility is the desktop's switch for assistive technologies (in GNOME: Settings > "
            "Accessibility; elsewhere the session's accessibility bus, org.a11y.Status IsEnabled). Grant turns "
            "it on. Applications started before it was on show Vanto nothing until they are restarted.",
            {"OK"}};
}

std::string note(bool screenGranted, bool accessibilityGranted, bool switchedOnHere) {
    if (screenGranted && accessibilityGranted && !switchedOnHere) return "";
    if (!screenGranted) return "Vanto cannot reach the display. Start it from the desktop session it should record.";
    return "Applications started before accessibility was switched on, Chromium among them, show Vanto nothing "
           "until they are restarted: quit them and open them again after granting Accessibility.";
}

} // namespace PermissionsPane

namespace AgentsPane {

std::vector<Switch> switches(Defaults& defaults) {
    const bool always = defaults.boolValue(alwaysAllowedKey, false);
    return {
        {agentsMayRecordKey, "Let agents record",
         "A demo sheet that asks to is recorded take after take, without anybody pressing Record or approving its "
         "steps. With this on, anything running on this computer can start a recording.",
         AgentRecording::isAllowed(defaults), true},
        {acceptCloudKey, "Accept recordings from assistants",
         "ChatGPT, Claude and other assistants connected to your Vanto account can ask this computer to record a demo. "
         "Vanto asks you before each one and records in the stage browser, on public web pages only.",
         defaults.boolValue(acceptCloudKey, true), true},
        // Switched on only by the consent question's always-allow answer.
        {alwaysAllowedKey, "Record without asking",
         "Set by Always allow. Turn it off to be asked before every recording again.", always, always},
    };
}

std::string setUpAddress(Paths& paths, Processes& environment) {
    return Connector::appBase(ConfigStore(paths, environment).resolveAPIBase(std::nullopt), environment) +
           "/getting-started";
}

} // namespace AgentsPane

} // namespace vanto
