// What harvesta mount and harvesta unmount ask of the caller and of the MOUNTPOINT given.
#pragma once
#include <string>

// Asked before anything else, and before any password: without root a mount fails only at the
// last step, in FUSE or in the file system's mount. what: "mounting". Throws CommandError.
void RequireRoot(const std::string& what);
// The folder's real path (absolute, no symbolic links), as the mount table shows it. Throws
// CommandError when it is not a folder.
std::string ExistingDirectory(const std::string& path);
