// The private folder of one mount point under /run/harvesta: the FUSE disk, the daemon's pid,
// what it mounted, and the lock that makes one harvesta mount own the mount point at a time.
#pragma once
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// /run/harvesta/<hash of mountPoint>, the same for the same path. /run/harvesta is created
// 0700 and must be a folder of root's that nobody else can enter: a pid file planted there
// would make unmount signal another process. Throws MountError.
std::string RuntimeFolder(const std::string& mountPoint);
// The runtime folders there are now, without creating /run/harvesta.
std::vector<std::string> RuntimeFolders();
// Removes the runtime folder, its pid and mount files and the (unmounted) folder of the FUSE disk.
void RemoveRuntime(const std::string& runtime);

// An exclusive lock on the runtime folder, created if missing. A harvesta mount holds it from
// before its checks until its daemon and watcher are gone (both inherit the descriptor).
class RuntimeLock {
 public:
  // Throws MountError when another harvesta mount of the same mount point holds it.
  RuntimeLock(const std::string& runtime, const std::string& mountPoint);
  ~RuntimeLock();
  RuntimeLock(const RuntimeLock&) = delete;
  RuntimeLock& operator=(const RuntimeLock&) = delete;
  int Descriptor() const { return fd_; }

 private:
  int fd_ = -1;
};

// Records this process as the runtime folder's daemon: its pid and its start time.
void WriteDaemonPid(const std::string& runtime);
// The daemon recorded in the runtime folder while that very process still runs harvesta; a
// pid reused by another process, or one that is not harvesta's, yields nothing.
std::optional<pid_t> LiveDaemon(const std::string& runtime);

// What a daemon mounted, for harvesta mounts: the mount point is not in the folder's name.
struct MountInfo {
  std::string MountPoint;
  std::string Image;     // as the user named it
  int Partition = 0;     // 0: every partition as a disk file (--raw)
  std::string Contents;  // "NTFS", "ext2/3/4", "disk files", ...
};
void WriteMountInfo(const std::string& runtime, const MountInfo& info);
std::optional<MountInfo> ReadMountInfo(const std::string& runtime);
