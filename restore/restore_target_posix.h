// The destination of `harvesta restore` on Linux: TARGET, a block device holding a partition
// (or a whole disk), or a folder. RunRestore names drives by letters; the destination is one
// fixed token letter whose root the Linux steps map back to this target.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

// The destination's token: RestoreChoices::Destination is its root, "T:\".
inline constexpr char kTargetLetter = 'T';
std::string TargetRoot();

enum class TargetKind { Partition, WholeDisk, Folder };

struct RestoreTarget {
  TargetKind Kind = TargetKind::Folder;
  std::string Path;              // TARGET made absolute, links resolved: "/dev/sdb1", "/srv/out"
  dev_t Device = 0;              // the block device's number; for a folder, that of its file system
  std::string DiskPath;          // "/dev/sdb", the disk holding the partition; empty otherwise
  uint64_t PartitionOffset = 0;  // bytes from the disk's start (sysfs start x 512)
  uint32_t LogicalBlockSize = 512;  // the disk's sector size, as the kernel reports it
  uint64_t Size = 0;                // bytes of the device (BLKGETSIZE64); 0 for a folder
  bool IsDevice() const { return Kind != TargetKind::Folder; }
};

// What TARGET is; nullopt with a one-line reason in error when it is neither a block device
// nor a folder, or when the kernel does not describe it.
std::optional<RestoreTarget> DescribeRestoreTarget(const std::string& target, std::string& error);

// The target's files while the steps need them: a folder is its own root; a device is mounted
// read-write on demand on a private folder (ntfs-3g for NTFS, the kernel otherwise) and
// unmounted again before any raw write to it, at the end and on every way out.
class DestinationMount {
 public:
  // folder: an empty private folder to mount on (the steps make it under /run/harvesta).
  DestinationMount(const RestoreTarget& target, std::string folder);
  ~DestinationMount();  // unmounts
  DestinationMount(const DestinationMount&) = delete;
  DestinationMount& operator=(const DestinationMount&) = delete;

  // The folder holding the target's files, mounting the device first when it is not mounted;
  // nullopt with the reason in error when it cannot be mounted.
  std::optional<std::string> Root(std::string* error = nullptr);
  // True when nothing of ours is mounted on the folder afterwards. Safe to call at any time.
  bool Unmount();
  bool Mounted() const { return mounted_; }

 private:
  const RestoreTarget& target_;
  std::string folder_;
  bool mounted_ = false;
};
