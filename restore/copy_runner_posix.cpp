#include "copy_runner_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "command_template.h"
#include "restore_ui.h"

namespace {

// The built-in copier's questions go to the wait window too, so that Ctrl-C stops it between
// two files and the status line keeps moving.
class WaitingObserver : public TreeCopyObserver {
 public:
  WaitingObserver(TreeCopyObserver& inner, WaitWindow& wait) : inner_(inner), wait_(wait) {}
  void Copied(const std::string& path) override { inner_.Copied(path); }
  void Problem(const std::string& path, const std::string& what) override {
    inner_.Problem(path, what);
  }
  void Progress(const TreeCopyProgress& progress) override {
    inner_.Progress(progress);
    wait_.Pump();
  }
  bool Cancelled() override { return wait_.Cancelled() || inner_.Cancelled(); }

 private:
  TreeCopyObserver& inner_;
  WaitWindow& wait_;
};

int ExitStatusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return 1;
}

// The command runs in a process group of its own: Ctrl-C on the terminal reaches harvesta alone,
// which then ends the whole group (a shell's children included) and waits for it.
pid_t StartShell(const std::string& line, bool hideOutput) {
  const pid_t child = fork();
  if (child != 0) {
    if (child > 0) setpgid(child, child);
    return child;
  }
  setpgid(0, 0);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(s, SIG_DFL);
  if (hideOutput) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
    }
  }
  execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
  _exit(127);
}

// SIGTERM first so that the command may clean up; SIGKILL for whatever of the group is left
// 5 s later (a member may ignore SIGTERM, or outlive the shell).
int EndGroup(pid_t child) {
  kill(-child, SIGTERM);
  int status = 0;
  bool reaped = false;
  for (int waited = 0; waited < 50; ++waited) {
    if (!reaped && waitpid(child, &status, WNOHANG) == child) reaped = true;
    if (reaped && kill(-child, 0) != 0) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  kill(-child, SIGKILL);
  while (!reaped && waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

}  // namespace

namespace {
bool OnNtfs3g(const std::string& folder) {
  uint32_t attributes = 0;
  return getxattr(folder.c_str(), "system.ntfs_attrib", &attributes, sizeof attributes) >= 0;
}
}  // namespace

TreeCopyOptions TreeCopyOptionsFor(const std::string& source, const std::string& destination) {
  TreeCopyOptions options;
  options.NtfsMetadata = OnNtfs3g(source) && OnNtfs3g(destination);
  return options;
}

std::string WithTrailingSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

CopyCommandResult PosixCopyRunner::RunCopy(const CopyCommand& command, RestoreUserInterface& ui) {
  outcome_ = {};
  std::unique_ptr<WaitWindow> wait = ui.OpenWaitWindow(WaitKind::WithCancel);
  SetCurrentWaitWindow(wait.get());
  wait->SetTitle("Copying...");
  wait->ShowMarquee();
  const std::string source = folders_(command.VirtualLetter);
  const std::string destination = folders_(command.Destination.empty() ? '\0' : command.Destination[0]);
  CopyCommandResult result;
  if (source.empty() || destination.empty()) {
    result.Result = kCopyNotStarted;
  } else if (command.Template.empty()) {
    result = RunBuiltIn(source, destination, *wait);
  } else {
    result = RunTemplate(command, source, destination, *wait);
  }
  SetCurrentWaitWindow(nullptr);
  return result;
}

CopyCommandResult PosixCopyRunner::RunBuiltIn(const std::string& source,
                                              const std::string& destination, WaitWindow& wait) {
  outcome_.BuiltIn = true;
  WaitingObserver observer(observer_, wait);
  outcome_.Tree = CopyTree(source, destination, TreeCopyOptionsFor(source, destination), observer);
  outcome_.ExitCode = outcome_.Tree.Problems == 0 ? 0 : 1;
  CopyCommandResult result;
  result.Ran = true;
  result.Cancelled = outcome_.Tree.Cancelled || observer.Cancelled();
  result.Result = result.Cancelled ? 0 : outcome_.ExitCode;
  return result;
}

CopyCommandResult PosixCopyRunner::RunTemplate(const CopyCommand& command,
                                               const std::string& source,
                                               const std::string& destination, WaitWindow& wait) {
  outcome_.CommandLine = SubstituteCommandFolders(command.Template, WithTrailingSlash(source),
                                                  WithTrailingSlash(destination));
  CopyCommandResult result;
  const pid_t child = StartShell(outcome_.CommandLine, command.HideOutput);
  if (child < 0) {
    result.Result = kCopyNotStarted;
    return result;
  }
  result.Ran = true;
  int status = 0;
  for (;;) {
    const pid_t ended = waitpid(child, &status, WNOHANG);
    if (ended == child) break;
    if (ended < 0 && errno != EINTR) break;
    if (wait.Cancelled()) {
      status = EndGroup(child);
      result.Cancelled = true;
      wait.EnableCancel();
      break;
    }
    wait.Pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  outcome_.ExitCode = ExitStatusOf(status);
  result.Result = result.Cancelled ? 0 : outcome_.ExitCode;
  return result;
}
