#include "file_system_mount.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "mount_error.h"
#include "mounted_disk.h"

namespace {

bool BytesAt(MountedDisk& disk, uint64_t offset, const char* expected, uint32_t length) {
  if (offset + length > disk.Size()) return false;
  std::vector<uint8_t> bytes(length);
  return disk.Read(offset, length, bytes.data()) == kReadOk &&
         std::memcmp(bytes.data(), expected, length) == 0;
}

}  // namespace

FileSystemKind DetectFileSystem(MountedDisk& disk) {
  if (BytesAt(disk, 3, "NTFS    ", 8)) return FileSystemKind::Ntfs;
  if (BytesAt(disk, 1024 + 56, "\x53\xEF", 2)) return FileSystemKind::Ext;
  if (BytesAt(disk, 0, "XFSB", 4)) return FileSystemKind::Xfs;
  if (BytesAt(disk, 0x10040, "_BHRfS_M", 8)) return FileSystemKind::Btrfs;
  if (BytesAt(disk, 82, "FAT32   ", 8) || BytesAt(disk, 54, "FAT1", 4)) return FileSystemKind::Fat;
  return FileSystemKind::Unknown;
}

const char* FileSystemName(FileSystemKind kind) {
  switch (kind) {
    case FileSystemKind::Ntfs: return "NTFS";
    case FileSystemKind::Ext: return "ext2/3/4";
    case FileSystemKind::Xfs: return "XFS";
    case FileSystemKind::Btrfs: return "Btrfs";
    case FileSystemKind::Fat: return "FAT";
    case FileSystemKind::Unknown: break;
  }
  return "unknown";
}

bool TakesOwnership(FileSystemKind kind) { return kind == FileSystemKind::Ntfs || kind == FileSystemKind::Fat; }

bool KernelHasFileSystem(const std::string& name) {
  std::ifstream table("/proc/filesystems");
  std::string line;
  while (std::getline(table, line)) {
    size_t tab = line.rfind('\t');
    if (line.substr(tab == std::string::npos ? 0 : tab + 1) == name) return true;
  }
  return false;
}

bool ServedFromRuntime(const MountEntry& entry, const std::string& runtime) {
  const std::string inside = runtime + "/";
  if (entry.Source.starts_with(inside)) return true;
  if (!entry.Source.starts_with("/dev/loop")) return false;
  std::ifstream file("/sys/block/" + entry.Source.substr(entry.Source.rfind('/') + 1) + "/loop/backing_file");
  std::string backing;
  std::getline(file, backing);
  return backing.starts_with(inside);
}

int RunProgram(const std::vector<std::string>& argv) {
  pid_t child = fork();
  if (child < 0) return 127;
  if (child == 0) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

void MountFileSystem(FileSystemKind kind, const std::string& diskFile, const std::string& mountPoint,
                     bool allowExec, const std::string& ownerOptions) {
  std::string safe = allowExec ? "ro,nosuid,nodev,exec" : "ro,nosuid,nodev,noexec";
  if (TakesOwnership(kind) && !ownerOptions.empty()) safe += "," + ownerOptions;
  std::vector<std::string> command;
  switch (kind) {
    case FileSystemKind::Ntfs:
      command = {"ntfs-3g", "-o", safe, diskFile, mountPoint};
      break;
    case FileSystemKind::Ext:
      command = {"mount", "-t", KernelHasFileSystem("ext4") ? "ext4" : "ext2", "-o", safe + ",loop,noload",
                 diskFile, mountPoint};
      break;
    case FileSystemKind::Xfs:
      command = {"mount", "-t", "xfs", "-o", safe + ",loop,norecovery", diskFile, mountPoint};
      break;
    case FileSystemKind::Btrfs:
      command = {"mount", "-t", "btrfs", "-o", safe + ",loop", diskFile, mountPoint};
      break;
    case FileSystemKind::Fat:
      command = {"mount", "-t", "vfat", "-o", safe + ",loop", diskFile, mountPoint};
      break;
    case FileSystemKind::Unknown:
      throw MountError("the partition holds no file system this command can mount; see --raw");
  }
  if (RunProgram(command) != 0)
    throw MountError(std::string("cannot mount the ") + FileSystemName(kind) + " file system (" +
                       command[0] + " failed)");
}

// The system call, not umount(8): a busy mount is the caller's to report, in its own words.
bool UnmountPath(const std::string& path) {
  if (!MountAt(path)) return true;
  umount2(path.c_str(), 0);
  return !MountAt(path);
}
