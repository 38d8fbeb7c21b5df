// harvesta mount IMAGE --partition N MOUNTPOINT: the partition's file system, read-only.
// harvesta mount IMAGE MOUNTPOINT --raw: one read-only disk file per partition (1.img, ...).
// harvesta unmount MOUNTPOINT: the file system, then the FUSE layer under it.
//
// A daemon serves the partition through FUSE; the file system is mounted on its disk file.
// Errors before the mount is ready reach the user from the foreground process; after that the
// daemon runs in the background (or in the foreground with -f, where Ctrl-C unmounts). If it is
// killed, its watcher (mount_watcher.h) takes down what it had mounted.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "commands.h"
#include "fuse_disk.h"
#include "image_access.h"
#include "mount_stack.h"
#include "mount_watcher.h"
#include "mounted_disk.h"
#include "runtime_folder.h"

namespace {

struct MountOptions {
  std::string ImagePath;
  std::string MountPoint;
  int Partition = 0;
  bool Raw = false;
  bool Foreground = false;
  bool NoCheck = false;
  std::string FileSystemOption;  // -o: only "exec"
  PasswordOptions Password;
};

std::string ExistingDirectory(const std::string& path) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved) || !std::filesystem::is_directory(resolved))
    throw CommandError(path + " is not a folder");
  return resolved;
}

// Tells the waiting foreground process how the mount went: "0 text" or "1 error".
class ReadySignal {
 public:
  explicit ReadySignal(int fd) : fd_(fd) {}
  void Send(bool ok, const std::string& text) {
    if (fd_ < 0) {
      (ok ? std::cout : std::cerr) << text << std::endl;
      return;
    }
    std::string message = (ok ? "0" : "1") + text;
    [[maybe_unused]] ssize_t written = write(fd_, message.data(), message.size());
    close(fd_);
    fd_ = -1;
  }
  bool Pending() const { return fd_ >= 0; }

 private:
  int fd_;
};

struct Session {
  std::vector<std::unique_ptr<MountedDisk>> Disks;
  std::unique_ptr<FuseDisk> Fuse;
  std::string UpperMount;  // the file system mounted over the FUSE disk file, if any
  std::string Runtime;
};

// Waits for SIGINT, SIGTERM or SIGHUP; unmounts the file system, then stops FUSE. A busy file
// system stays mounted and the daemon keeps serving it. SIGUSR1 only ends the wait.
void WaitForStop(Session& session, bool foreground) {
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&signals, s);
  for (;;) {
    int received = 0;
    sigwait(&signals, &received);
    if (received == SIGUSR1) return;
    if (!session.UpperMount.empty() && !UnmountPath(session.UpperMount)) {
      if (foreground) std::cerr << session.UpperMount << " is busy: still mounted\n";
      continue;
    }
    session.Fuse->Stop();
    return;
  }
}

std::string ServeMessage(const MountOptions& options, const Session& session, FileSystemKind kind) {
  std::string text;
  if (options.Raw) {
    text = options.MountPoint + ":";
    for (const DiskFile& file : session.Fuse->Files()) text += " " + file.Name;
    return text;
  }
  if (session.UpperMount.empty()) {
    std::string disk = options.MountPoint + "/" + session.Fuse->Files()[0].Name;
    return "this kernel has no vfat driver: the FAT partition is not mounted; its disk is " + disk +
           " (read it with mtools: mcopy -s -p -m -i " + disk + " ::/ DESTINATION)";
  }
  return options.MountPoint + ": " + FileSystemName(kind) + " partition " +
         std::to_string(options.Partition) + " mounted read-only";
}

// The daemon's whole life: open the image files, mount, serve until stopped, clean up.
int Serve(const MountOptions& options, std::vector<std::vector<uint8_t>> records,
          const std::string& runtime, const RuntimeLock& lock, ReadySignal ready) {
  // Signals are taken by WaitForStop alone, in every thread started from here on.
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&signals, s);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  Session session;
  session.Runtime = runtime;
  FileSystemKind kind = FileSystemKind::Unknown;
  std::thread server;
  std::optional<MountWatcher> watcher;  // cleans up if this process is killed
  try {
    watcher.emplace(options.MountPoint, session.Runtime, lock.Descriptor());  // before any thread or FUSE file
    // One pool for every partition: memory does not grow with their count.
    auto pool = std::make_shared<DecodePool>();
    // Each disk wipes the record it takes: the records carry the key.
    for (auto& record : records)
      session.Disks.push_back(
          std::make_unique<MountedDisk>(std::move(record), MountedDiskOptions{!options.NoCheck, pool}));
    WriteDaemonPid(session.Runtime);

    std::vector<DiskFile> files;
    std::string fuseAt = options.MountPoint;
    if (options.Raw) {
      for (size_t i = 0; i < session.Disks.size(); ++i)
        files.push_back({std::to_string(i + 1) + ".img", session.Disks[i].get()});
    } else {
      kind = DetectFileSystem(*session.Disks[0]);
      files.push_back({std::to_string(options.Partition) + ".img", session.Disks[0].get()});
      bool kernelMounts = kind != FileSystemKind::Fat || KernelHasFileSystem("vfat");
      if (kind == FileSystemKind::Unknown)
        throw CommandError("partition " + std::to_string(options.Partition) +
                           " holds no file system this command recognises; see --raw");
      if (kernelMounts) {
        fuseAt = session.Runtime + "/disk";
        std::filesystem::create_directories(fuseAt);
      }
    }
    session.Fuse = std::make_unique<FuseDisk>(files, fuseAt);
    server = std::thread([&] { session.Fuse->Run(); });
    if (fuseAt != options.MountPoint) {
      MountFileSystem(kind, fuseAt + "/" + files[0].Name, options.MountPoint, options.FileSystemOption == "exec");
      session.UpperMount = options.MountPoint;
      watcher->FileSystemMounted();
    }
  } catch (const std::exception& e) {
    for (auto& record : records) WipeRecord(record);  // those no disk took
    if (session.Fuse) session.Fuse->Stop();
    if (server.joinable()) server.join();
    session.Fuse.reset();
    RemoveRuntime(session.Runtime);
    if (watcher) watcher->Dismiss();
    ready.Send(false, e.what());
    return 1;
  }

  ready.Send(true, ServeMessage(options, session, kind));
  if (!options.Foreground) {
    int null = open("/dev/null", O_RDWR);
    for (int fd : {0, 1, 2}) dup2(null, fd);
    if (null > 2) close(null);
  }
  std::thread stopper([&] { WaitForStop(session, options.Foreground); });
  server.join();  // ends on Stop() or when the FUSE layer is unmounted from outside
  pthread_kill(stopper.native_handle(), SIGUSR1);
  stopper.join();
  if (!session.UpperMount.empty() && MountedTypeAt(session.UpperMount))
    RunProgram({"umount", "-l", session.UpperMount});  // its disk is gone: never leave it stale
  session.Fuse.reset();
  session.Disks.clear();
  RemoveRuntime(session.Runtime);
  watcher->Dismiss();
  return 0;
}

// From the lock on: the checks, the image and password, and the daemon's start.
void MountLocked(const MountOptions& options, const std::string& runtime, const RuntimeLock& lock) {
  if (MountedTypeAt(options.MountPoint)) throw CommandError(options.MountPoint + " is already a mount point");

  FolderListing listing = LoadListing(options.ImagePath);
  PasswordKeeper passwords(options.Password);
  std::vector<std::vector<uint8_t>> records;
  if (options.Raw) {
    for (const PartitionRow& row : listing.Rows) records.push_back(MountRecordFor(listing, row, passwords));
  } else {
    records.push_back(MountRecordFor(listing, ChoosePartition(listing, options.Partition), passwords));
  }

  if (options.Foreground) {
    if (Serve(options, std::move(records), runtime, lock, ReadySignal(-1)) != 0) throw CommandError("mount failed");
    return;
  }
  int pipeFds[2];
  // Close-on-exec: the helpers the daemon starts (fusermount3, ntfs-3g) must not hold it open.
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw CommandError("cannot start the daemon");
  std::cout.flush();
  pid_t child = fork();
  if (child < 0) throw CommandError("cannot start the daemon");
  if (child == 0) {
    close(pipeFds[0]);
    setsid();
    _exit(Serve(options, std::move(records), runtime, lock, ReadySignal(pipeFds[1])));
  }
  for (auto& record : records) WipeRecord(record);
  close(pipeFds[1]);
  std::string message;
  char buffer[512];
  ssize_t n;
  while ((n = read(pipeFds[0], buffer, sizeof(buffer))) > 0) message.append(buffer, size_t(n));
  close(pipeFds[0]);
  if (message.empty()) throw CommandError("the mount daemon ended before the mount was ready");
  if (message[0] != '0') throw CommandError(message.substr(1));
  std::cout << message.substr(1) << std::endl;
}

void RunMount(MountOptions options) {
  options.MountPoint = ExistingDirectory(options.MountPoint);
  if (!options.Raw && options.Partition == 0) throw CommandError("give --partition N, or --raw");
  // Held from before the checks until the daemon and its watcher are gone: a second mount of
  // the same point fails here instead of sharing the runtime folder.
  const std::string runtime = RuntimeFolder(options.MountPoint);
  RuntimeLock lock(runtime, options.MountPoint);
  try {
    MountLocked(options, runtime, lock);
  } catch (...) {
    RemoveRuntime(runtime);  // nobody else can be using it while the lock is held here
    throw;
  }
}

// Only what a harvesta mount put there: whatever else is mounted at the path stays.
void RunUnmount(const std::string& mountPointArgument) {
  const std::string mountPoint = ExistingDirectory(mountPointArgument);
  const std::string runtime = RuntimeFolder(mountPoint);
  const std::optional<pid_t> daemon = LiveDaemon(runtime);
  const std::optional<MountEntry> top = MountAt(mountPoint);
  const bool ours = top && (top->Type == "fuse.harvesta" || ServedFromRuntime(*top, runtime));
  if (top && !ours)
    throw CommandError(mountPoint + " holds a " + top->Type + " mount that is not harvesta's: left mounted");
  if (!top && !daemon && !std::filesystem::exists(runtime))
    throw CommandError("nothing is mounted at " + mountPoint);
  if (top && !UnmountPath(mountPoint))
    throw CommandError(mountPoint + " is busy: close what uses it and try again");
  if (daemon) {
    kill(*daemon, SIGTERM);
    for (int i = 0; i < 200 && kill(*daemon, 0) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  // A daemon that died left its FUSE layer to auto_unmount; whatever is left goes now.
  if (MountedTypeAt(runtime + "/disk") == "fuse.harvesta") RunProgram({"umount", "-l", runtime + "/disk"});
  RemoveRuntime(runtime);
}

}  // namespace

void AddMountCommand(CLI::App& app) {
  auto options = std::make_shared<MountOptions>();
  CLI::App* mount = app.add_subcommand("mount", "Mount a partition of an image read-only");
  mount->add_option("IMAGE", options->ImagePath, "A *.qvimg or *.qvbak file of the backup")->required();
  mount->add_option("MOUNTPOINT", options->MountPoint, "An existing folder")->required();
  mount->add_option("--partition", options->Partition, "Row number from harvesta list");
  mount->add_flag("--raw", options->Raw, "Show every partition as a disk file N.img instead");
  mount->add_flag("-f,--foreground", options->Foreground, "Stay in the foreground; Ctrl-C unmounts");
  mount->add_flag("--no-check", options->NoCheck,
                  "Serve blocks without checking them against their digests (damage goes unnoticed)");
  mount->add_option("-o", options->FileSystemOption,
                    "exec: let programs on the file system run (set-user-ID bits and device files never work)")
      ->check(CLI::IsMember({"exec"}));
  mount->add_option("--password-file", options->Password.PasswordFile,
                    "Read the password from the file's first line (else HARVESTA_PASSWORD or a prompt)");
  mount->callback([options] { RunMount(*options); });
}

void AddUnmountCommand(CLI::App& app) {
  auto mountPoint = std::make_shared<std::string>();
  CLI::App* unmount = app.add_subcommand("unmount", "Unmount what harvesta mount mounted");
  unmount->add_option("MOUNTPOINT", *mountPoint, "The folder given to harvesta mount")->required();
  unmount->callback([mountPoint] { RunUnmount(*mountPoint); });
}
