#include "restore_ui.h"

namespace {
// Touched only from the thread that runs the restore.
WaitWindow* current = nullptr;
}  // namespace

WaitWindow* CurrentWaitWindow() { return current; }
void SetCurrentWaitWindow(WaitWindow* window) { current = window; }
