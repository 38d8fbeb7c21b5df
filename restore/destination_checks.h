// Checks of the destination before it is formatted.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "image_set.h"
#include "restore_steps.h"

// FAT32 volumes up to 32 GiB only.
inline constexpr uint64_t kFat32MaxVolumeSize = uint64_t{32} << 30;
inline bool FitsFat32(uint64_t volumeSize) { return volumeSize <= kFat32MaxVolumeSize; }

// The first file of set that lies on the volume at root: formatting that volume would destroy
// the backup while its partition is mounted from it. nullopt when none does, or when the
// volume of root is unknown.
std::optional<CStdString> FileOfSetOnVolume(RestoreVolumes& volumes, const ImageSet& set,
                                            const std::string& root);

std::string FormatWouldDestroyBackupMessage(const std::string& driveName,
                                            const CStdString& backupFile);
