#include "restore_refusals_posix.h"

#include <sys/statvfs.h>

#include "destination_checks.h"
#include "device_numbers_posix.h"
#include "text_helpers.h"

namespace {

uint64_t UsedSpace(const VolumeInfo& volume) {
  const uint64_t capacity = volume.Capacity(), freeSpace = volume.FreeSpace();
  return capacity > freeSpace ? capacity - freeSpace : 0;
}

// A folder holds what its file system has free; a device its whole size.
uint64_t Room(const RestoreTarget& target) {
  if (target.IsDevice()) return target.Size;
  struct statvfs status {};
  if (statvfs(target.Path.c_str(), &status) != 0) return 0;
  return uint64_t{status.f_bavail} * status.f_frsize;
}

std::optional<std::string> RefuseRunningSystem(const RestoreTarget& target) {
  const std::optional<dev_t> root = FileSystemDeviceOf("/");
  if (!root) return std::nullopt;
  if (target.Device == *root)
    return target.Path + " holds the running system's root file system: choose another target";
  if (DiskOfPartition(*root) == target.Device)
    return target.Path +
           " is the disk of the running system's root file system: choose another "
           "target";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> RefuseRestoreTarget(const RestoreTarget& target, const ImageSet& set,
                                               const ImagePartition& partition,
                                               const TargetRequest& request,
                                               RestoreVolumes& volumes) {
  if (!target.IsDevice() && (request.Format || request.Bootable))
    return std::string{request.Format ? "--format" : "--bootable"} +
           " needs a block device as TARGET; " + target.Path + " is a folder";
  if (target.IsDevice()) {
    if (auto refused = RefuseRunningSystem(target)) return refused;
    if (const auto held = FileOfSetOnVolume(volumes, set, TargetRoot()))
      return target.Path + " holds '" + *held +
             "' of the backup being restored: choose another target";
    if (const auto point = MountPointOfDevice(target.Device))
      return target.Path + " is mounted on " + *point + ": unmount it first";
  }
  if (request.Format && request.Fat32 && !FitsFat32(target.Size))
    return std::string{"The volume is too big for FAT32, please use NTFS."};
  const uint64_t used = UsedSpace(partition.Volume), room = Room(target);
  if (room < used)
    return target.Path + " has room for " + FormatSize(room) + ", less than the " +
           FormatSize(used) + " the partition uses";
  return std::nullopt;
}
