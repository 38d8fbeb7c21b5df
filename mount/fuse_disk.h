// A read-only FUSE file system of disk files, each the bytes of one mounted partition.
#pragma once
#include <string>
#include <vector>

#include "mount_options.h"

class MountedDisk;
struct fuse;

struct DiskFile {
  std::string Name;  // in the file system's root
  MountedDisk* Disk;
};

struct FuseDiskOptions {
  std::string FsName = "harvesta";  // the mount's source in the mount table: names the image
  bool AllowOther = false;          // users other than root may reach the files (modes still apply)
  bool Debug = false;               // every FUSE request and reply on stderr
  FileOwnership Ownership{};        // owner and modes of the disk files and the root folder
};

class FuseDisk {
 public:
  // Mounts at mountPoint (read-only, unmounted by the kernel helper if this process dies).
  // Throws MountError.
  FuseDisk(std::vector<DiskFile> files, const std::string& mountPoint, FuseDiskOptions options = {});
  ~FuseDisk();
  FuseDisk(const FuseDisk&) = delete;
  FuseDisk& operator=(const FuseDisk&) = delete;

  // Serves requests on several threads until Stop() or an unmount from outside.
  void Run();
  // From another thread: ends Run() and unmounts.
  void Stop();
  // After Stop, when something still holds a disk file (a lazily unmounted file system on its
  // loop device): ends the connection from the kernel's side, so that its requests fail
  // instead of waiting for a daemon that is going, and Run() returns. scratch: an absent
  // folder it may mount the FUSE control file system on for a moment.
  void Abort(const std::string& scratch);

  const std::vector<DiskFile>& Files() const { return files_; }
  const FileOwnership& Ownership() const { return options_.Ownership; }

 private:
  std::vector<DiskFile> files_;
  FuseDiskOptions options_;
  fuse* fuse_ = nullptr;
  bool mounted_ = false;
  std::string device_;  // "0:52" in the mount table: the connection's number is the minor
};
