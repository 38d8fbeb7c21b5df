// The Linux mounted drive: the partition as a disk file on a FUSE file system of this process,
// and the partition's file system mounted read-only from that file onto the mount point
// (ntfs-3g on the file, the kernel's drivers through a loop device). It runs in the calling
// process: the FUSE session on a thread of its own, the reading on the disk's pool. A watcher
// process (mount_watcher.h) takes everything down if this process is killed. Everything it
// keeps lies in the mount point's runtime folder (runtime_folder.h), whose lock it holds while
// it owns the mount point.
#pragma once
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "file_system_mount.h"
#include "mount_options.h"
#include "mounted_drive.h"

class FuseDisk;
class MountedDisk;
class MountTableWatch;
class MountWatcher;
class RuntimeLock;

struct PosixDriveOptions {
  std::string MountPoint;     // an existing folder, absolute and without symbolic links
  int Partition = 1;          // names the disk file: "1.img"
  bool AllowExec = false;     // programs on the file system may run (never set-user-ID, never devices)
  bool CheckDigests = true;   // false: blocks are served without comparing their digests
  std::string Source{};       // the image as named to the user: the mount table's source, harvesta mounts
  FileOwnership Ownership{};  // owner and modes of the disk files and of NTFS and FAT files
  bool AllowOther = false;    // users other than root may enter a FUSE layer on the mount point
  bool RequireEmpty = false;  // Claim refuses a mount point that has files in it
  bool Debug = false;         // the FUSE layer's requests and replies on stderr
};

class PosixMountedDrive : public MountedDrive {
 public:
  explicit PosixMountedDrive(PosixDriveOptions options);
  // Unmounts what is still mounted, lazily when it is busy: nothing may outlive its disk.
  ~PosixMountedDrive() override;
  PosixMountedDrive(const PosixMountedDrive&) = delete;
  PosixMountedDrive& operator=(const PosixMountedDrive&) = delete;

  // Takes the mount point for this object: the runtime folder's lock (one harvesta mount per
  // mount point) and the check that nothing is mounted there yet. Mount does it when it has
  // not been done. 0, or -1 with failure filled in.
  int Claim(MountFailure& failure);
  // Lets go of the claim without touching the runtime folder: a forked child that inherited
  // this object now owns the mount point.
  void Release();

  int Mount(std::vector<uint8_t> record, MountFailure& failure) override;
  // Every record's partition as a disk file on the mount point (1.img, 2.img, ...), with no file
  // system mounted from them. Same results as Mount.
  int MountDiskFiles(std::vector<std::vector<uint8_t>> records, MountFailure& failure);
  // Thread-safe, and may run while another thread waits in WaitForEnd.
  int Unmount() override;
  std::string Root() const override { return options_.MountPoint; }

  // Returns when the FUSE session has ended: after Unmount, or when its layer was unmounted
  // from outside (Unmount then takes down what is left). The file system unmounted from outside
  // ends it too, once nothing holds the file system any more (umount -l waits for its users).
  void WaitForEnd();

  const PosixDriveOptions& Options() const { return options_; }
  FileSystemKind Kind() const { return kind_; }
  // Whether a file system is mounted on the mount point; not with MountDiskFiles, nor for a FAT
  // partition when the kernel has no vfat driver (its disk file is then on the mount point).
  bool FileSystemMounted() const { return fileSystemMounted_; }
  std::vector<std::string> DiskFileNames() const;

 private:
  int Begin(std::vector<std::vector<uint8_t>>& records, bool diskFilesOnly, MountFailure& failure);
  void Start(std::vector<std::vector<uint8_t>>& records, bool diskFilesOnly);
  void TakeDown();
  bool OurFileSystemAtMountPoint() const;
  void ReleaseWhenFileSystemGone();

  PosixDriveOptions options_;
  std::string runtime_;
  std::unique_ptr<RuntimeLock> lock_;
  std::unique_ptr<MountWatcher> watcher_;
  std::vector<std::unique_ptr<MountedDisk>> disks_;
  std::unique_ptr<FuseDisk> fuse_;
  std::thread session_;
  std::string fuseAt_;
  std::unique_ptr<MountTableWatch> tableWatch_;
  std::thread tableThread_;
  FileSystemKind kind_ = FileSystemKind::Unknown;
  bool fileSystemMounted_ = false;
  bool mounted_ = false;

  std::mutex mutex_;  // Unmount against Unmount
  std::mutex endMutex_;  // guards sessionRunning_
  std::condition_variable ended_;
  bool sessionRunning_ = false;
};
