// The file system layer of a Linux mount: which file system a partition holds, and mounting it
// read-only from the FUSE disk file.
#pragma once
#include <string>
#include <vector>

#include "mount_table.h"

class MountedDisk;

enum class FileSystemKind { Ntfs, Ext, Xfs, Btrfs, Fat, Unknown };

FileSystemKind DetectFileSystem(MountedDisk& disk);
const char* FileSystemName(FileSystemKind kind);
// Whether the file system takes uid=, gid= and the masks (NTFS, FAT); the others show the owners
// and modes stored in them.
bool TakesOwnership(FileSystemKind kind);
// Whether the running kernel has the file system driver (/proc/filesystems).
bool KernelHasFileSystem(const std::string& name);

// Whether entry is served from the runtime folder: the FUSE disk itself, or a file system on
// its disk file (directly, or through a loop device while the FUSE layer is attached).
bool ServedFromRuntime(const MountEntry& entry, const std::string& runtime);

// Runs a program and waits; returns its exit status (127 when it could not start).
int RunProgram(const std::vector<std::string>& argv);

// Mounts the file system of diskFile read-only at mountPoint: ntfs-3g directly on the file,
// the kernel's drivers through a read-only loop device. A set-user-ID program or a device
// node in an image must never work on the host: always nosuid and nodev, and noexec unless
// allowExec. ownerOptions ("uid=1000,umask=022") go to the file systems that take them.
// Throws MountError.
void MountFileSystem(FileSystemKind kind, const std::string& diskFile, const std::string& mountPoint,
                     bool allowExec, const std::string& ownerOptions = "");
// umount; true when nothing is mounted at path afterwards.
bool UnmountPath(const std::string& path);
