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
#include "mount_holders.h"
#include "mount_table.h"
#include "runtime_folder.h"

namespace {

constexpr int kDaemonExitTimeoutMs = 10000;
// After a lazy unmount that nobody held: the daemon notices by itself, within moments.
constexpr int kLazyExitTimeoutMs = 3000;

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
    if (PidfdSignal(fd_, SIGTERM) == 0) WaitForExit(kDaemonExitTimeoutMs);
  }
  bool WaitForExit(int timeoutMs) {
    pollfd exited{fd_, POLLIN, 0};
    int ready = 0;
    while ((ready = poll(&exited, 1, timeoutMs)) < 0 && errno == EINTR) {}
    return ready > 0;
  }

 private:
  int fd_ = -1;
};

// What is at the mount point, when it is harvesta's; throws NothingMounted otherwise.
std::optional<MountEntry> OurTop(const std::string& mountPoint, const std::string& runtime, bool daemonLives) {
  std::optional<MountEntry> top = MountAt(mountPoint);
  const bool ours = top && (top->Type == "fuse.harvesta" || ServedFromRuntime(*top, runtime));
  if (top && !ours)
    throw MountError(mountPoint + " holds a " + top->Type + " mount that is not harvesta's: left mounted",
                     MountErrorKind::NothingMounted);
  if (!top && !daemonLives && !std::filesystem::exists(runtime))
    throw MountError("nothing is mounted at " + mountPoint, MountErrorKind::NothingMounted);
  return top;
}

// A daemon that died left its FUSE layer to auto_unmount; whatever is left goes now.
void RemoveLeftovers(const std::string& runtime) {
  if (const std::optional<MountEntry> disk = MountAt(runtime + "/disk"); disk && disk->Type == "fuse.harvesta")
    RunProgram({"umount", "-l", runtime + "/disk"});
  RemoveRuntime(runtime);
}

}  // namespace

void UnmountDaemonMount(const std::string& mountPoint) {
  const std::string runtime = RuntimeFolder(mountPoint);
  DaemonHandle daemon(runtime);
  const std::optional<MountEntry> top = OurTop(mountPoint, runtime, bool(daemon));
  if (top && !UnmountPath(mountPoint)) {
    const std::vector<MountHolder> holders = ProcessesUsing(mountPoint);
    throw MountError(mountPoint + " is busy: " +
                         (holders.empty() ? "close what uses it and try again, or unmount it with --lazy"
                                          : "held by " + HolderText(holders)),
                     MountErrorKind::Busy);
  }
  if (daemon) daemon.StopAndWait();
  RemoveLeftovers(runtime);
}

std::string UnmountDaemonMountLazily(const std::string& mountPoint) {
  const std::string runtime = RuntimeFolder(mountPoint);
  DaemonHandle daemon(runtime);
  const std::optional<MountEntry> top = OurTop(mountPoint, runtime, bool(daemon));
  const std::vector<MountHolder> holders = ProcessesUsing(mountPoint);
  if (top && RunProgram({"umount", "-l", mountPoint}) != 0)
    throw MountError("cannot unmount " + mountPoint + " (umount -l failed)");
  // Not signalled: stopping now would cut off the programs still reading. The daemon sees its
  // file system go and ends once they have let go.
  if (daemon && !daemon.WaitForExit(holders.empty() ? kLazyExitTimeoutMs : 0))
    return holders.empty() ? "programs that /proc does not show" : HolderText(holders);
  if (!daemon) RemoveLeftovers(runtime);
  return "";
}
