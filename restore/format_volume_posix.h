// The quick format of a Linux target with the mkfs tools.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "restore_target_posix.h"

// mkntfs for "NTFS", mkfs.vfat for "FAT32" (any case); empty for another file system or a
// cluster size that is no multiple of the target's sector size.
std::vector<std::string> FormatCommand(const RestoreTarget& target, const std::string& label,
                                       const std::string& fileSystem, uint32_t clusterSize);
