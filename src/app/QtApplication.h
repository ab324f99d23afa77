#pragma once

namespace vanto {

// The process's one Qt application, made on first use and kept until the process
// ends: the panels, the window and its dialogs all live in it, and none of them may
// outlive it.
void ensureQtApplication();

} // namespace vanto
