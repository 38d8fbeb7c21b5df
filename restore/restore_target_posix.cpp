#include "restore_target_posix.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "file_system_mount.h"
#include "raw_bytes_posix.h"

namespace {

namespace fs = std::filesystem;

std::optional<uint64_t> SysfsNumber(const fs::path& file) {
  std::ifstream in(file);
  uint64_t value = 0;
  if (!(in >> value)) return std::nullopt;
  return value;
}

uint64_t DeviceSize(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  uint64_t size = 0;
  if (ioctl(fd, BLKGETSIZE64, &size) != 0) size = 0;
  close(fd);
  return size;
}

// The kernel's view of a block device: /sys/dev/block/M:m leads to its folder, a partition's
// folder lies in its disk's and holds its start sector in 512-byte units.
bool DescribeBlockDevice(RestoreTarget& target, std::string& error) {
  std::error_code failed;
  const std::string number =
      std::to_string(major(target.Device)) + ":" + std::to_string(minor(target.Device));
  const fs::path folder = fs::canonical("/sys/dev/block/" + number, failed);
  if (failed) {
    error = target.Path + ": the kernel does not describe this block device";
    return false;
  }
  fs::path disk = folder;
  if (fs::exists(folder / "partition")) {
    const std::optional<uint64_t> start = SysfsNumber(folder / "start");
    if (!start || *start > UINT64_MAX / 512) {
      error = target.Path + ": the kernel does not say where this partition starts";
      return false;
    }
    target.Kind = TargetKind::Partition;
    target.PartitionOffset = *start * 512;
    disk = folder.parent_path();
    target.DiskPath = "/dev/" + disk.filename().string();
  } else {
    target.Kind = TargetKind::WholeDisk;
  }
  if (const auto size = SysfsNumber(disk / "queue/logical_block_size"); size && *size >= 512)
    target.LogicalBlockSize = uint32_t(*size);
  target.Size = DeviceSize(target.Path);
  return true;
}

}  // namespace

std::string TargetRoot() { return std::string{kTargetLetter} + ":\\"; }

std::optional<RestoreTarget> DescribeRestoreTarget(const std::string& path, std::string& error) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) {
    error = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  RestoreTarget target;
  target.Path = resolved;
  struct stat status {};
  if (stat(resolved, &status) != 0) {
    error = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  if (S_ISDIR(status.st_mode)) {
    target.Kind = TargetKind::Folder;
    target.Device = status.st_dev;
    return target;
  }
  if (!S_ISBLK(status.st_mode)) {
    error = path + " is neither a block device nor a folder";
    return std::nullopt;
  }
  target.Device = status.st_rdev;
  if (!DescribeBlockDevice(target, error)) return std::nullopt;
  return target;
}

DestinationMount::DestinationMount(const RestoreTarget& target, std::string folder)
    : target_(target), folder_(std::move(folder)) {}

DestinationMount::~DestinationMount() { Unmount(); }

std::optional<std::string> DestinationMount::Root(std::string* error) {
  if (!target_.IsDevice()) return target_.Path;
  if (mounted_) return folder_;
  auto fail = [&](const std::string& why) -> std::optional<std::string> {
    if (error) *error = why;
    return std::nullopt;
  };
  const auto sector = ReadBytesAt(target_.Path, 0, 512);
  if (!sector) return fail("cannot read " + target_.Path);
  // Restored files keep their Windows attributes and security only through ntfs-3g.
  std::vector<std::string> command{"mount", "-o", "nosuid,nodev", target_.Path, folder_};
  if (IsNtfsBootSector(*sector)) command = {"ntfs-3g", "-o", "nosuid,nodev", target_.Path, folder_};
  else if (std::memcmp(sector->data() + 82, "FAT32   ", 8) == 0 && !KernelHasFileSystem("vfat"))
    return fail("cannot mount the FAT32 file system of " + target_.Path +
                ": this kernel has no vfat driver");
  std::error_code ignored;
  fs::create_directories(folder_, ignored);
  if (RunProgram(command) != 0 || !MountAt(folder_))
    return fail("cannot mount " + target_.Path + " (" + command[0] + " failed)");
  mounted_ = true;
  return folder_;
}

bool DestinationMount::Unmount() {
  if (!mounted_) return true;
  mounted_ = !UnmountPath(folder_);
  return !mounted_;
}
