// Formatting the destination: forcing the volume out of use, then the system's format library
// (fmifs.dll, loaded at run time) with a quick format.
#pragma once
#include <cstdint>
#include <string>

#include "restore_ui.h"

enum class DismountResult : int {
  Dismounted = 0,
  CannotOpen = 1,
  InUse = 2,  // the lock was refused and force was not asked for
  DismountFailed = 3,
  EmptyPath = 4,
};
// devicePath: "\\.\E:". The volume is unlocked again before this returns: the format library
// locks it itself.
DismountResult LockAndDismountVolume(const std::string& devicePath, bool force);

// True when fmifs.dll is loaded and has FormatEx; otherwise the user is told why.
bool LoadFormatLibrary(RestoreUserInterface& ui);

// Quick format of driveName ("E:") with the file system ("NTFS", "FAT32"), cluster size in bytes
// and label, while the current wait window (if any) is pumped and shows the library's text. 1
// only when the library reported that it finished with success; else 0.
int FormatVolume(RestoreUserInterface& ui, const std::string& driveName, const std::string& label,
                 const std::string& fileSystem, uint32_t clusterSize);
