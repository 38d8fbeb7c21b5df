// The restore steps over Linux for one TARGET: `harvesta restore` builds a RestoreTarget
// (restore_target_posix.h), refuses it with RefuseRestoreTarget (restore_refusals_posix.h)
// before anything is written, makes these steps from it, and hands RunRestore
// PosixTargetChoices: the destination is the token root "T:\", named by its path in messages.
// The copy runner and junction walk map the tokens back with SourceRoot and DestinationRoot.
#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "boot_updates_posix.h"
#include "mounted_drive_posix.h"
#include "restore_choices.h"
#include "restore_steps.h"
#include "restore_target_posix.h"

// The source partition mounted read-only on a private folder, per virtual letter.
class PosixMountedDrives : public MountedDrives {
 public:
  // folder: where the mount points are made ("<folder>/source-D").
  explicit PosixMountedDrives(std::string folder) : folder_(std::move(folder)) {}
  ~PosixMountedDrives() override;  // unmounts what is still mounted
  // Only the destination's token is in use: Linux has no drive letters.
  bool LetterInUse(char letter) override { return letter == kTargetLetter; }
  std::vector<unsigned> FreeDeviceNumbers() override { return {0}; }
  int Mount(const MountValues& values, unsigned deviceNumber, char letter,
            MountFailure& failure) override;
  int Unmount(char letter) override;

  // The mount point of letter's partition; nullopt when nothing is mounted on it.
  std::optional<std::string> Root(char letter) const;
  // The partition's raw disk file (for its boot area); nullopt when nothing is mounted.
  std::optional<std::string> DiskFile(char letter) const;
  PosixMountedDrive* Drive(char letter) const;
  void UnmountAll();

 private:
  std::string folder_;
  std::map<char, std::unique_ptr<PosixMountedDrive>> drives_;
};

// The target as the machine's volume: its size, its identity, its formatting.
class PosixRestoreVolumes : public RestoreVolumes {
 public:
  PosixRestoreVolumes(const RestoreTarget& target, DestinationMount& mount)
      : target_(target), mount_(mount) {}
  // The target's size for its token root; 0 for any other.
  uint64_t VolumeSize(const std::string& root) override;
  // "major:minor" of the block device a path's file system lives on (the target's own number
  // for its token root): a file on an ntfs-3g mount of the target compares equal to it.
  std::optional<std::string> VolumeOfPath(const std::string& path) override;
  // Our own mount of the target goes first; a mount of anybody else's is never undone here:
  // kVolumeInUse, and kVolumeDismountFailed when forced.
  int LockAndDismountVolume(const std::string& devicePath, bool force) override;
  // mkntfs or mkfs.vfat on the target device (driveName is not looked at: the steps serve one
  // target). 1 only when the tool exited with 0; never while the target is mounted.
  int FormatVolume(const std::string& driveName, const std::string& label,
                   const std::string& fileSystem, uint32_t clusterSize) override;

 private:
  const RestoreTarget& target_;
  DestinationMount& mount_;
};

// The choices RunRestore gets for target: the token root as the destination, the target's path
// as its name in messages.
RestoreChoices PosixTargetChoices(const RestoreTarget& target, RestoreChoices choices);

// Everything but the copy runner and junction walk, which the command brings. Keep it alive
// for the whole run; destroying it (or Release) unmounts the source and the destination: the
// command calls Release on Ctrl-C before it exits.
class PosixRestoreSteps {
 public:
  // Makes the run's private folder under /run/harvesta; throws MountError when it cannot.
  PosixRestoreSteps(RestoreUserInterface& ui, const RestoreTarget& target);
  ~PosixRestoreSteps();
  RestoreSteps Steps(CopyCommandRunner& copy, JunctionWalk& junctions);

  // The folder behind a virtual letter RunRestore hands the copy ("D"); nullopt when unmounted.
  std::optional<std::string> SourceRoot(char letter) const { return drives_.Root(letter); }
  // The folder behind the destination token, mounted now if need be; nullopt with error set
  // when it cannot be mounted.
  std::optional<std::string> DestinationRoot(std::string* error = nullptr) {
    return destination_.Root(error);
  }
  PosixMountedDrives& Drives() { return drives_; }
  const RestoreTarget& Target() const { return target_; }
  void Release();

 private:
  RestoreUserInterface& ui_;
  const RestoreTarget& target_;
  std::string folder_;  // the run's private folder under /run/harvesta
  PosixMountedDrives drives_;
  DestinationMount destination_;
  PosixRestoreVolumes volumes_;
  PosixBootUpdates boot_;
};
