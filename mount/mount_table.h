// The kernel's mount table as this process sees it (/proc/self/mountinfo): the one reader of it.
#pragma once
#include <optional>
#include <string>
#include <vector>

struct MountEntry {
  std::string Device;  // "0:52": the numbers of the mount's device (its /sys/class/bdi name)
  std::string Type;    // "fuse.harvesta", "fuseblk", "ext4", ...
  std::string Source;  // "/dev/loop3", the disk file under ntfs-3g, ...
};

struct MountedAt {
  std::string Point;  // the mount point, escapes undone
  MountEntry Entry;
};
// Every mount of the table, in the table's order.
std::vector<MountedAt> MountTable();
// What is mounted exactly at path (the top one when several are stacked there). path is
// compared as written: absolute, without symbolic links, as the table shows it.
std::optional<MountEntry> MountAt(const std::string& path);
// One line of the table, or nullopt when it is not one (too few fields, no " - " separator).
// Paths come back with the table's \ooo escapes undone.
std::optional<MountEntry> ParseMountLine(const std::string& line, std::string* mountPoint);
