#include "mounted_drive_posix.h"

#include <sys/mount.h>

#include <cerrno>
#include <filesystem>

#include "fuse_disk.h"
#include "mount_error.h"
#include "mount_table.h"
#include "mount_table_watch.h"
#include "mount_watcher.h"
#include "mounted_disk.h"
#include "runtime_folder.h"

namespace {

// While a lazily unmounted file system still has users, its disk file stays open: how often to
// look whether they have gone. The table tells nothing then: the mount left it at once.
constexpr int kReleasePollMs = 250;
constexpr size_t kNameBytesKept = 200;

// The disk file under a mounted file system is the source the mount table shows for NTFS, and
// the loop device's backing file for the others: let it name the image.
std::string LayerFileName(const std::string& source, int partition) {
  const std::string number = std::to_string(partition);
  if (source.empty()) return number + ".img";
  return std::filesystem::path(source).filename().string().substr(0, kNameBytesKept) + ".partition" + number;
}

bool Empty(const std::string& folder) {
  std::error_code error;
  return std::filesystem::directory_iterator(folder, error) == std::filesystem::directory_iterator();
}

}  // namespace

PosixMountedDrive::PosixMountedDrive(PosixDriveOptions options) : options_(std::move(options)) {}

PosixMountedDrive::~PosixMountedDrive() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (mounted_) TakeDown();
  if (lock_ && !mounted_) RemoveRuntime(runtime_);
}

int PosixMountedDrive::Claim(MountFailure& failure) {
  if (lock_) return 0;
  try {
    runtime_ = RuntimeFolder(options_.MountPoint);
    auto lock = std::make_unique<RuntimeLock>(runtime_, options_.MountPoint);
    if (MountAt(options_.MountPoint)) {
      RemoveRuntime(runtime_);  // nobody else can be using it while the lock is held here
      throw MountError(options_.MountPoint + " is already a mount point");
    }
    if (options_.RequireEmpty && !Empty(options_.MountPoint)) {
      RemoveRuntime(runtime_);
      throw MountError(options_.MountPoint +
                       " is not empty: its files would be hidden while mounted (-o nonempty mounts there anyway)");
    }
    lock_ = std::move(lock);
    return 0;
  } catch (const std::exception& e) {
    failure = {false, e.what()};
    return -1;
  }
}

void PosixMountedDrive::Release() { lock_.reset(); }

int PosixMountedDrive::Mount(std::vector<uint8_t> record, MountFailure& failure) {
  std::vector<std::vector<uint8_t>> records;
  records.push_back(std::move(record));
  return Begin(records, false, failure);
}

int PosixMountedDrive::MountDiskFiles(std::vector<std::vector<uint8_t>> records, MountFailure& failure) {
  return Begin(records, true, failure);
}

int PosixMountedDrive::Begin(std::vector<std::vector<uint8_t>>& records, bool diskFilesOnly,
                             MountFailure& failure) {
  try {
    if (Claim(failure) != 0) throw MountError(failure.Text);
    Start(records, diskFilesOnly);
    return 0;
  } catch (const std::exception& e) {
    for (auto& left : records) WipeRecord(left);  // those no disk took
    failure = {false, e.what()};
    return -1;
  }
}

// Each step is undone by TakeDown when a later one throws: the caller sees all or nothing.
void PosixMountedDrive::Start(std::vector<std::vector<uint8_t>>& records, bool diskFilesOnly) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (mounted_) throw MountError(options_.MountPoint + " is already mounted by this process");
  mounted_ = true;
  try {
    // Before any thread of the pool or file of FUSE: the watcher must hold none of them.
    watcher_ = std::make_unique<MountWatcher>(options_.MountPoint, runtime_, lock_->Descriptor());
    // One pool for every partition: memory does not grow with their count.
    auto pool = std::make_shared<DecodePool>();
    // Each disk wipes the record it takes: the records carry the key.
    for (auto& record : records)
      disks_.push_back(
          std::make_unique<MountedDisk>(std::move(record), MountedDiskOptions{options_.CheckDigests, pool}));
    WriteDaemonPid(runtime_);

    std::vector<DiskFile> files;
    std::string fuseAt = options_.MountPoint;
    if (diskFilesOnly) {
      for (size_t i = 0; i < disks_.size(); ++i)
        files.push_back({std::to_string(i + 1) + ".img", disks_[i].get()});
    } else {
      kind_ = DetectFileSystem(*disks_[0]);
      if (kind_ == FileSystemKind::Unknown)
        throw MountError("partition " + std::to_string(options_.Partition) +
                         " holds no file system this command recognises; see --raw");
      // Without a vfat driver the FAT disk file itself goes on the mount point, for mtools.
      if (kind_ != FileSystemKind::Fat || KernelHasFileSystem("vfat")) {
        fuseAt = runtime_ + "/disk";
        std::filesystem::create_directories(fuseAt);
      }
      const bool layerHidden = fuseAt != options_.MountPoint;
      files.push_back({layerHidden ? LayerFileName(options_.Source, options_.Partition)
                                   : std::to_string(options_.Partition) + ".img",
                       disks_[0].get()});
    }
    FuseDiskOptions fuseOptions{.Debug = options_.Debug};
    if (!options_.Source.empty()) fuseOptions.FsName = options_.Source;
    // Only the disk files users see take their owner and reach: the hidden layer is root's.
    if (fuseAt == options_.MountPoint) {
      fuseOptions.AllowOther = options_.AllowOther;
      fuseOptions.Ownership = options_.Ownership;
    }
    fuseAt_ = fuseAt;
    fuse_ = std::make_unique<FuseDisk>(files, fuseAt, fuseOptions);
    {
      std::lock_guard<std::mutex> running(endMutex_);
      sessionRunning_ = true;
    }
    session_ = std::thread([this] {
      fuse_->Run();
      std::lock_guard<std::mutex> ended(endMutex_);
      sessionRunning_ = false;
      ended_.notify_all();
    });
    if (fuseAt != options_.MountPoint) {
      MountFileSystem(kind_, fuseAt + "/" + files[0].Name, options_.MountPoint, options_.AllowExec,
                      options_.Ownership.MountOptionText());
      fileSystemMounted_ = true;
      watcher_->FileSystemMounted();
      tableWatch_ = std::make_unique<MountTableWatch>();
      tableThread_ = std::thread([this] { ReleaseWhenFileSystemGone(); });
    }
    WriteMountInfo(runtime_, {options_.MountPoint, options_.Source, diskFilesOnly ? 0 : options_.Partition,
                              diskFilesOnly       ? "disk files"
                              : fileSystemMounted_ ? FileSystemName(kind_)
                                                   : "FAT disk file"});
  } catch (...) {
    TakeDown();
    throw;
  }
}

int PosixMountedDrive::Unmount() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (!mounted_) return 0;
  bool ended = false;
  {
    std::lock_guard<std::mutex> lock(endMutex_);
    ended = !sessionRunning_;
  }
  // A busy file system stays, and so does everything under it. Once the FUSE layer is gone
  // from outside, its file system reads nothing any more and goes lazily.
  if (fileSystemMounted_ && !ended && !UnmountPath(options_.MountPoint)) return -1;
  TakeDown();
  return 0;
}

// Top down: the file system, the FUSE layer and its thread, the disks, the runtime folder;
// the watcher last, so that a crash half way still gets cleaned up.
void PosixMountedDrive::TakeDown() {
  if (tableWatch_) tableWatch_->Stop();
  if (tableThread_.joinable()) tableThread_.join();
  tableWatch_.reset();
  // A busy file system goes lazily: it stays readable to whoever holds it only until the FUSE
  // connection under it is aborted, which must be, or the session would wait for them forever.
  bool lazy = false;
  if (fileSystemMounted_ && OurFileSystemAtMountPoint() && !UnmountPath(options_.MountPoint)) {
    RunProgram({"umount", "-l", options_.MountPoint});
    lazy = true;
  }
  fileSystemMounted_ = false;
  if (fuse_) fuse_->Stop();
  if (fuse_ && lazy) fuse_->Abort(runtime_ + "/control");
  if (session_.joinable()) session_.join();
  fuse_.reset();
  disks_.clear();
  if (lock_) RemoveRuntime(runtime_);
  if (watcher_) watcher_->Dismiss();
  watcher_.reset();
  lock_.reset();
  mounted_ = false;
}

bool PosixMountedDrive::OurFileSystemAtMountPoint() const {
  const std::optional<MountEntry> top = MountAt(options_.MountPoint);
  return top && ServedFromRuntime(*top, runtime_);
}

// A plain umount of the mount point leaves the FUSE layer serving nobody. Once the file system
// is off the mount point and has let go of its disk file, the layer unmounts without force and
// the session ends; while a lazily unmounted one is still in use, that unmount fails and its
// users keep reading.
void PosixMountedDrive::ReleaseWhenFileSystemGone() {
  int timeout = 0;
  while (tableWatch_->Wait(timeout)) {
    if (OurFileSystemAtMountPoint()) {
      timeout = -1;
      continue;
    }
    if (umount2(fuseAt_.c_str(), 0) == 0 || errno == EINVAL || errno == ENOENT) return;
    timeout = kReleasePollMs;
  }
}

void PosixMountedDrive::WaitForEnd() {
  std::unique_lock<std::mutex> lock(endMutex_);
  ended_.wait(lock, [this] { return !sessionRunning_; });
}

std::vector<std::string> PosixMountedDrive::DiskFileNames() const {
  std::vector<std::string> names;
  if (fuse_)
    for (const DiskFile& file : fuse_->Files()) names.push_back(file.Name);
  return names;
}
