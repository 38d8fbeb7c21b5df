#include "mount_watcher.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "mount_error.h"
#include "file_system_mount.h"
#include "mount_table.h"
#include "runtime_folder.h"

namespace {

constexpr char kMounted = 'm';
constexpr char kDismissed = 'q';

// A loop device bound to one backing file. After the FUSE layer is detached the device's
// backing path no longer names the runtime folder, so the file is known by its device and inode.
struct LoopBinding {
  std::string Device;
  uint64_t BackingDevice = 0;
  uint64_t BackingInode = 0;
};

bool ReadBinding(const std::string& device, LoopBinding& binding) {
  int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  loop_info64 info{};
  bool ok = ioctl(fd, LOOP_GET_STATUS64, &info) == 0;
  close(fd);
  if (ok) binding = {device, info.lo_device, info.lo_inode};
  return ok;
}

void DetachIfStillBound(const LoopBinding& binding) {
  LoopBinding now;
  if (binding.Device.empty() || !ReadBinding(binding.Device, now)) return;
  if (now.BackingDevice != binding.BackingDevice || now.BackingInode != binding.BackingInode) return;
  int fd = open(binding.Device.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  // Still held by a lazily unmounted file system: the kernel then detaches it on last close.
  ioctl(fd, LOOP_CLR_FD, 0);
  close(fd);
}

// Whether what is mounted at the mount point is the dead daemon's and not someone else's.
// Once the FUSE layer is gone, the loop device no longer names the runtime folder: it is known
// by the binding noted when the daemon reported its mount.
bool IsOurs(const MountEntry& entry, const std::string& runtime, const LoopBinding& binding) {
  if (entry.Type == "fuse.harvesta") return true;
  if (!binding.Device.empty() && entry.Source == binding.Device) return true;
  return ServedFromRuntime(entry, runtime);
}

void CleanUp(const std::string& mountPoint, const std::string& runtime, const LoopBinding& binding) {
  std::optional<MountEntry> top = MountAt(mountPoint);
  if (top && IsOurs(*top, runtime, binding) && RunProgram({"umount", mountPoint}) != 0)
    RunProgram({"umount", "-l", mountPoint});
  DetachIfStillBound(binding);
  // auto_unmount may not have reached the FUSE layer yet; its folder cannot go while mounted.
  if (MountAt(runtime + "/disk")) RunProgram({"umount", "-l", runtime + "/disk"});
  RemoveRuntime(runtime);
}

[[noreturn]] void Watch(int socket, int lock, const std::string& mountPoint, const std::string& runtime) {
  setsid();  // out of the terminal's reach: Ctrl-C stops the daemon, which then dismisses this
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  int null = open("/dev/null", O_RDWR);
  for (int fd : {0, 1, 2}) dup2(null, fd);
  // Nothing else of the daemon's may stay open here: the ready pipe would keep the foreground
  // process waiting, and the socket's other end would never see end of file. The runtime lock
  // stays held until the cleanup is done, so that no new mount starts under it.
  // Either may already sit at 3 or 4: move both clear of them first.
  int socketCopy = fcntl(socket, F_DUPFD, 10), lockCopy = fcntl(lock, F_DUPFD, 10);
  dup2(socketCopy, 3);
  dup2(lockCopy, 4);
  close_range(5, ~0U, 0);

  LoopBinding binding;
  for (;;) {
    char message = 0;
    ssize_t n = read(3, &message, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n == 1 && message == kDismissed) _exit(0);
    if (n == 1 && message == kMounted) {
      std::optional<MountEntry> top = MountAt(mountPoint);
      if (top && top->Source.starts_with("/dev/loop")) ReadBinding(top->Source, binding);
      continue;
    }
    break;  // end of file: the daemon is gone
  }
  CleanUp(mountPoint, runtime, binding);
  _exit(0);
}

}  // namespace

MountWatcher::MountWatcher(const std::string& mountPoint, const std::string& runtime, int runtimeLock) {
  int ends[2];
  // Close-on-exec: the programs the daemon starts (ntfs-3g, mount) must not hold the socket.
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
    throw MountError("cannot start the mount watcher");
  pid_ = fork();
  if (pid_ < 0) {
    close(ends[0]);
    close(ends[1]);
    throw MountError("cannot start the mount watcher");
  }
  if (pid_ == 0) {
    close(ends[0]);
    Watch(ends[1], runtimeLock, mountPoint, runtime);
  }
  close(ends[1]);
  socket_ = ends[0];
}

MountWatcher::~MountWatcher() {
  if (socket_ >= 0) close(socket_);
}

void MountWatcher::Tell(char message) {
  if (socket_ >= 0) send(socket_, &message, 1, MSG_NOSIGNAL);  // a dead watcher is not an error
}

void MountWatcher::FileSystemMounted() { Tell(kMounted); }

void MountWatcher::Dismiss() {
  Tell(kDismissed);
  close(socket_);
  socket_ = -1;
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {}
}
