#include "daemon_unmount.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>

#include "file_system_mount.h"
#include "mount_error.h"
#include "mount_table.h"
#include "runtime_folder.h"

namespace {

constexpr int kDaemonExitTimeoutMs = 10000;

// Straight system calls: glibc 2.36 declares its wrappers without C linkage for C++.
int PidfdOpen(pid_t pid) { return int(syscall(SYS_pidfd_open, pid, 0)); }
int PidfdSignal(int pidfd, int signal) {
  return int(syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

// A handle on the daemon itself, taken before it is signalled: it cannot stand for another
// process later, and its end is seen the moment it happens instead of at the next poll.
class DaemonHandle {
 public:
  explicit DaemonHandle(const std::string& runtime) {
    const std::optional<pid_t> pid = LiveDaemon(runtime);
    if (!pid) return;
    fd_ = PidfdOpen(*pid);
    // The pid might have been reused between the check and the open: look again.
    if (fd_ >= 0 && LiveDaemon(runtime) != pid) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~DaemonHandle() {
    if (fd_ >= 0) close(fd_);
  }
  DaemonHandle(const DaemonHandle&) = delete;
  DaemonHandle& operator=(const DaemonHandle&) = delete;

  explicit operator bool() const { return fd_ >= 0; }
  void StopAndWait() {
    if (PidfdSignal(fd_, SIGTERM) != 0) return;
    pollfd exited{fd_, POLLIN, 0};
    while (poll(&exited, 1, kDaemonExitTimeoutMs) < 0 && errno == EINTR) {}
  }

 private:
  int fd_ = -1;
};

}  // namespace

void UnmountDaemonMount(const std::string& mountPoint) {
  const std::string runtime = RuntimeFolder(mountPoint);
  DaemonHandle daemon(runtime);
  const std::optional<MountEntry> top = MountAt(mountPoint);
  const bool ours = top && (top->Type == "fuse.harvesta" || ServedFromRuntime(*top, runtime));
  if (top && !ours)
    throw MountError(mountPoint + " holds a " + top->Type + " mount that is not harvesta's: left mounted");
  if (!top && !daemon && !std::filesystem::exists(runtime))
    throw MountError("nothing is mounted at " + mountPoint);
  if (top && !UnmountPath(mountPoint))
    throw MountError(mountPoint + " is busy: close what uses it and try again");
  if (daemon) daemon.StopAndWait();
  // A daemon that died left its FUSE layer to auto_unmount; whatever is left goes now.
  if (const std::optional<MountEntry> disk = MountAt(runtime + "/disk"); disk && disk->Type == "fuse.harvesta")
    RunProgram({"umount", "-l", runtime + "/disk"});
  RemoveRuntime(runtime);
}
