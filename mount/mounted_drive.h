// One partition of an image mounted where the system shows its files: behind a drive letter on
// Windows (mounted_drive_win32.h), on a folder on Linux (mounted_drive_posix.h). A restore mounts,
// copies from Root() and unmounts through this; `harvesta mount` is option parsing and
// daemonising over the Linux one.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "mount_request.h"

// Why a mount failed. Some failures are shown to the user by the mount itself (on Windows: the
// device would not open, the driver refused the record); others are not, and then the caller
// tells the user.
struct MountFailure {
  bool UserTold = false;
  std::string Text;  // the system's words for the cause; may be empty
};

class MountedDrive {
 public:
  virtual ~MountedDrive() = default;
  // Mounts the partition a mount record describes (BuildMountRecord; it carries the accepted
  // password's key and is wiped here whatever happens). 0 on success; -1 with failure filled in
  // and nothing left mounted.
  virtual int Mount(std::vector<uint8_t> record, MountFailure& failure) = 0;
  // Undoes a successful Mount. 0 when nothing of it is left; -1 when it could not be undone
  // (on Linux: the file system is busy), and it then stays mounted.
  virtual int Unmount() = 0;
  // Where the partition's files appear while mounted: "X:\" or the mount point folder.
  virtual std::string Root() const = 0;

  // Builds the record from values (their key field already holds the password) and mounts it.
  int MountValues(const ::MountValues& values, MountFailure& failure);
};
