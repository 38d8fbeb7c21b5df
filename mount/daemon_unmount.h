// `harvesta unmount`: takes down, from another process, what a harvesta process serves on a
// mount point, and waits until that process has cleaned up and gone.
#pragma once
#include <string>

// Only what a harvesta mount put there: whatever else is mounted at the path stays. mountPoint
// is absolute and without symbolic links. Throws MountError (not harvesta's, busy, nothing there).
void UnmountDaemonMount(const std::string& mountPoint);
