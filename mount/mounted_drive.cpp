#include "mounted_drive.h"

#include <optional>

#include "mount_record_build.h"

int MountedDrive::MountValues(const ::MountValues& values, MountFailure& failure) {
  std::string error;
  std::optional<std::vector<uint8_t>> record = BuildMountRecord(values, &error);
  if (!record) {
    failure = {false, error};
    return -1;
  }
  return Mount(std::move(*record), failure);
}
