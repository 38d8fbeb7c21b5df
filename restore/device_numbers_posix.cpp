#include "device_numbers_posix.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "mount_table.h"

namespace {

namespace fs = std::filesystem;

// The block device a mount's source names, if it names one.
std::optional<dev_t> SourceDevice(const MountEntry& entry) {
  struct stat status {};
  if (!entry.Source.starts_with("/") || stat(entry.Source.c_str(), &status) != 0 ||
      !S_ISBLK(status.st_mode))
    return std::nullopt;
  return status.st_rdev;
}

std::optional<dev_t> DeviceOfText(const std::string& text) {
  unsigned majorNumber = 0, minorNumber = 0;
  char colon = 0;
  std::istringstream in(text);
  if (!(in >> majorNumber >> colon >> minorNumber) || colon != ':') return std::nullopt;
  return makedev(majorNumber, minorNumber);
}

// A mount of one of a disk's partitions is on the disk as well: formatting it loses them.
bool MountIsOn(const MountEntry& entry, dev_t device) {
  for (const std::optional<dev_t> on : {DeviceOfText(entry.Device), SourceDevice(entry)})
    if (on && (*on == device || DiskOfPartition(*on) == device)) return true;
  return false;
}

}  // namespace

std::string DeviceNumberText(dev_t device) {
  return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

std::optional<dev_t> FileSystemDeviceOf(const std::string& path) {
  char resolved[PATH_MAX];
  struct stat status {};
  if (!realpath(path.c_str(), resolved) || stat(resolved, &status) != 0) return std::nullopt;
  const std::string own = DeviceNumberText(status.st_dev);
  // The nearest mount point above path that carries its file system names its source.
  for (fs::path folder = resolved;; folder = folder.parent_path()) {
    if (const std::optional<MountEntry> entry = MountAt(folder.string());
        entry && entry->Device == own)
      return SourceDevice(*entry).value_or(status.st_dev);
    if (folder == folder.parent_path()) return status.st_dev;
  }
}

std::optional<std::string> MountPointOfDevice(dev_t device) {
  for (const MountedAt& mount : MountTable())
    if (MountIsOn(mount.Entry, device)) return mount.Point;
  return std::nullopt;
}

std::optional<dev_t> DiskOfPartition(dev_t partition) {
  std::error_code failed;
  const fs::path folder = fs::canonical("/sys/dev/block/" + DeviceNumberText(partition), failed);
  if (failed || !fs::exists(folder / "partition")) return std::nullopt;
  std::ifstream file(folder.parent_path() / "dev");
  std::string text;
  std::getline(file, text);
  return DeviceOfText(text);
}
