// The targets `harvesta restore` refuses before anything is written, each with a one-line
// reason: it would overwrite the running system, the backup being read, a mounted file system,
// or could not hold what is restored.
#pragma once
#include <optional>
#include <string>

#include "image_set.h"
#include "restore_steps.h"
#include "restore_target_posix.h"

struct TargetRequest {
  bool Format = false;
  bool Fat32 = false;  // the format asked for is FAT32
  bool Bootable = false;
};

// nullopt when target may be restored to; volumes answers VolumeOfPath for the set's files.
std::optional<std::string> RefuseRestoreTarget(const RestoreTarget& target, const ImageSet& set,
                                               const ImagePartition& partition,
                                               const TargetRequest& request,
                                               RestoreVolumes& volumes);
