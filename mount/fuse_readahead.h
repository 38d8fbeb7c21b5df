// The kernel's readahead window for a FUSE mount.
#pragma once
#include <cstdint>
#include <string>

// Sets the largest readahead of the file system mounted at mountPoint (an absolute path without
// symbolic links, as the mount table shows it) to kib KiB. The kernel
// starts a FUSE mount at 128 KiB, which leaves the daemon idle between requests on sequential
// reads. Best effort: needs root and a writable /sys; returns false when it could not be set.
bool SetFuseReadahead(const std::string& mountPoint, uint32_t kib);
