// Which block device a file lives on, and where a block device is mounted: by device number,
// through the mount table, so that a device mounted through FUSE (ntfs-3g's fuseblk) counts
// as well as one the kernel mounted.
#pragma once
#include <sys/types.h>

#include <optional>
#include <string>

// "8:17": how the mount table and /sys/dev/block write a device number.
std::string DeviceNumberText(dev_t device);
// The device holding path's file system: the block device a FUSE file system names as its
// source, otherwise the file system's own number. nullopt when path cannot be looked at.
std::optional<dev_t> FileSystemDeviceOf(const std::string& path);
// The first mount point of the table whose file system lives on device, or on a partition of
// it when device is a disk.
std::optional<std::string> MountPointOfDevice(dev_t device);
// The disk a partition belongs to; nullopt for a device that is no partition.
std::optional<dev_t> DiskOfPartition(dev_t partition);
