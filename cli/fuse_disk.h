// A read-only FUSE file system of disk files, each the bytes of one mounted partition.
#pragma once
#include <string>
#include <vector>

class MountedDisk;
struct fuse;

struct DiskFile {
  std::string Name;  // in the file system's root
  MountedDisk* Disk;
};

class FuseDisk {
 public:
  // Mounts at mountPoint (read-only, unmounted by the kernel helper if this process dies).
  // Throws CommandError.
  FuseDisk(std::vector<DiskFile> files, const std::string& mountPoint);
  ~FuseDisk();
  FuseDisk(const FuseDisk&) = delete;
  FuseDisk& operator=(const FuseDisk&) = delete;

  // Serves requests on several threads until Stop() or an unmount from outside.
  void Run();
  // From another thread: ends Run() and unmounts.
  void Stop();

  const std::vector<DiskFile>& Files() const { return files_; }

 private:
  std::vector<DiskFile> files_;
  fuse* fuse_ = nullptr;
  bool mounted_ = false;
};
