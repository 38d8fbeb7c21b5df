// The boot repairs on Linux: the target partition's boot area and its disk's master boot record
// written raw with the destination unmounted; the boot configuration and boot status files
// edited through the destination's mount.
#pragma once
#include "restore_steps.h"
#include "restore_target_posix.h"

class PosixMountedDrives;

class PosixBootUpdates : public BootUpdates {
 public:
  PosixBootUpdates(const RestoreTarget& target, DestinationMount& mount, PosixMountedDrives& drives)
      : target_(target), mount_(mount), drives_(drives) {}
  int UpdatePartitionBootSector(char sourceLetter, char destinationLetter,
                                BootSectorError& error) override;
  // A disk with a GUID partition table (protective type 0xEE) is left alone: its offset is
  // reported, its record is not.
  DestinationDisk UpdateDiskRecord(char destinationLetter, uint32_t imageSignature,
                                   DiskRecordChoices choices) override;
  int UpdateBootConfiguration(char destinationLetter,
                              const BootConfigurationRewrite& rewrite) override;
  void MarkBootStatus(char destinationLetter) override;

 private:
  const RestoreTarget& target_;
  DestinationMount& mount_;
  PosixMountedDrives& drives_;
};
