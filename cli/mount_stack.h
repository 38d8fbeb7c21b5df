// The layers of `harvesta mount` on Linux: which file system a partition holds, mounting it
// read-only on the FUSE disk file, and the kernel's mount table.
#pragma once
#include <optional>
#include <string>
#include <vector>

class MountedDisk;

enum class FileSystemKind { Ntfs, Ext, Xfs, Btrfs, Fat, Unknown };

FileSystemKind DetectFileSystem(MountedDisk& disk);
const char* FileSystemName(FileSystemKind kind);
// Whether the running kernel has the file system driver (/proc/filesystems).
bool KernelHasFileSystem(const std::string& name);

struct MountEntry {
  std::string Type;    // "fuse.harvesta", "fuseblk", "ext4", ...
  std::string Source;  // "/dev/loop3", the disk file under ntfs-3g, ...
};
// What is mounted exactly at path (the top one when several are stacked there).
std::optional<MountEntry> MountAt(const std::string& path);
// The file system type mounted exactly at path.
std::optional<std::string> MountedTypeAt(const std::string& path);
// Whether entry is served from the runtime folder: the FUSE disk itself, or a file system on
// its disk file (directly, or through a loop device while the FUSE layer is attached).
bool ServedFromRuntime(const MountEntry& entry, const std::string& runtime);

// Runs a program and waits; returns its exit status (127 when it could not start).
int RunProgram(const std::vector<std::string>& argv);

// Mounts the file system of diskFile read-only at mountPoint: ntfs-3g directly on the file,
// the kernel's drivers through a read-only loop device. A set-user-ID program or a device
// node in an image must never work on the host: always nosuid and nodev, and noexec unless
// allowExec. Throws CommandError.
void MountFileSystem(FileSystemKind kind, const std::string& diskFile, const std::string& mountPoint,
                     bool allowExec);
// umount; true when nothing is mounted at path afterwards.
bool UnmountPath(const std::string& path);
