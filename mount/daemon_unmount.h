// `harvesta unmount`: takes down, from another process, what a harvesta process serves on a
// mount point, and waits until that process has cleaned up and gone.
#pragma once
#include <string>

// Only what a harvesta mount put there: whatever else is mounted at the path stays. mountPoint
// is absolute and without symbolic links. Throws MountError: Busy (naming what holds it when
// /proc tells), NothingMounted (nothing of harvesta's there), Failed.
void UnmountDaemonMount(const std::string& mountPoint);

// Detaches the mount point at once even while it is in use; the daemon serves the programs that
// still hold it and ends when the last lets go. Returns those programs ("bash (pid 1234)"), or
// "" when nothing held it and all is gone already. Throws MountError as UnmountDaemonMount.
std::string UnmountDaemonMountLazily(const std::string& mountPoint);
