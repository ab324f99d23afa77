#pragma once

#include "cloud/CloudRuns.h"
#include "desk/TakeFlow.h"
#include "platform/Defaults.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "sheets/AgentRecording.h"

#include <string>
#include <vector>

namespace vanto {

// The two grants the program needs, each a row of the permissions pane.
enum class Permission { screenRecording, accessibility };

namespace PermissionsPane {

// Under this key: the system has already been asked for the permission.
std::string askedKey(Permission permission);

struct Row {
    std::string title;
    std::string explanation;
    std::string status;
    bool granted = false;
    std::string button;
};
// "Review" when granted, "Grant" while nobody asked yet, else "Open Settings".
Row row(Permission permission, bool granted, bool asked);

// What the row's button does: ask the system (the first time, while not granted), or
// say where the desktop grants it.
enum class Press { ask, showWhere };
Press press(bool granted, bool asked);
// Where this desktop grants the permission, said in place of a settings page to open.
TakeFlow::Alert where(Permission permission);

// Under the rows: empty while both are granted and accessibility was on before any
// application started; else why an application can show Vanto nothing.
std::string note(bool screenGranted, bool accessibilityGranted, bool switchedOnHere);

} // namespace PermissionsPane

namespace AgentsPane {

inline constexpr const char* agentsMayRecordKey = AgentRecording::defaultsKey;
inline constexpr const char* acceptCloudKey = CloudRuns::acceptKey;
inline constexpr const char* alwaysAllowedKey = CloudRuns::alwaysAllowedKey;

struct Switch {
    std::string key;
    std::string heading;
    std::string explanation;
    bool on = false;
    bool enabled = true;
};
// The three switches as the store holds them: the first two on when not set, the
// last off; "Record without asking" can only be switched off here.
std::vector<Switch> switches(Defaults& defaults);

inline constexpr const char* stageHeading = "Open the stage browser";
inline constexpr const char* stageExplanation =
    "Agents and assistants record in a Chrome of their own, with none of your tabs or extensions. Open it to "
    "sign in to the demo accounts a recording needs; it remembers. Keep your own Chrome open while a sheet "
    "records: with it closed, links you open land in the stage and are filmed.";
inline constexpr const char* invitation = "Or let your coding agent make the whole video: /vanto:make in Claude Code.";
inline constexpr const char* setUpButton = "How to set it up";
// The product's getting-started page, on the web application this program connects through.
std::string setUpAddress(Paths& paths, Processes& environment);
inline constexpr const char* copied = "Copied";
inline constexpr const char* copiedText = "/vanto:make \"a 60-second demo of \u2026\"";

} // namespace AgentsPane

} // namespace vanto
