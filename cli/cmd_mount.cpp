// harvesta mount IMAGE --partition N MOUNTPOINT: the partition's file system, read-only.
// harvesta mount IMAGE MOUNTPOINT --raw: one read-only disk file per partition (1.img, ...).
//
// The mount itself is PosixMountedDrive's; this is its options, its messages and the daemon.
// Errors before the mount is ready reach the user from the foreground process; after that the
// daemon runs in the background (or in the foreground with -f, where Ctrl-C unmounts).
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <thread>

#include "commands.h"
#include "image_access.h"
#include "mount_error.h"
#include "mount_options.h"
#include "mount_point_argument.h"
#include "mounted_disk.h"
#include "mounted_drive_posix.h"

namespace {

struct MountOptions {
  std::string ImagePath;
  std::string MountPoint;
  int Partition = 0;
  bool Raw = false;
  bool Foreground = false;
  bool NoCheck = false;
  bool Debug = false;
  std::vector<std::string> OptionLists;  // every -o, each comma-separated
  PasswordOptions Password;
};

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

 private:
  int fd_;
};

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&signals, s);
  return signals;
}

// Waits for SIGINT, SIGTERM or SIGHUP and unmounts. A busy file system stays mounted and the
// daemon keeps serving it. SIGUSR1 only ends the wait.
void WaitForStop(PosixMountedDrive& drive, bool foreground) {
  const sigset_t signals = StopSignals();
  for (;;) {
    int received = 0;
    sigwait(&signals, &received);
    if (received == SIGUSR1 || drive.Unmount() == 0) return;
    if (foreground) std::cerr << drive.Root() << " is busy: still mounted\n";
  }
}

// A FUSE mount point is closed to everyone but root unless allow_other opens it: a uid= alone
// would hand the disk files to a user who cannot reach them.
std::string ReachNote(const PosixDriveOptions& drive) {
  if (!drive.Ownership.Uid || *drive.Ownership.Uid == 0 || drive.AllowOther) return "";
  return " (only root can enter " + drive.MountPoint + ": add -o allow_other for uid " +
         std::to_string(*drive.Ownership.Uid) + ")";
}

std::string ServeMessage(const MountOptions& options, const PosixMountedDrive& drive) {
  if (options.Raw) {
    std::string text = options.MountPoint + ":";
    for (const std::string& name : drive.DiskFileNames()) text += " " + name;
    return text + ReachNote(drive.Options());
  }
  if (!drive.FileSystemMounted()) {
    std::string disk = options.MountPoint + "/" + drive.DiskFileNames()[0];
    return "this kernel has no vfat driver: the FAT partition is not mounted; its disk is " + disk +
           " (read it with mtools: mcopy -s -p -m -i " + disk + " ::/ DESTINATION)" + ReachNote(drive.Options());
  }
  std::string text = options.MountPoint + ": " + FileSystemName(drive.Kind()) + " partition " +
                     std::to_string(options.Partition) + " mounted read-only";
  if (drive.Options().Ownership.Any() && !TakesOwnership(drive.Kind()))
    text += std::string(" (uid=, gid= and the masks do not apply: ") + FileSystemName(drive.Kind()) +
            " shows the owners and modes stored in it)";
  return text;
}

// The daemon's whole life: mount, serve until stopped or unmounted from outside, clean up.
int Serve(const MountOptions& options, std::vector<std::vector<uint8_t>> records, PosixMountedDrive& drive,
          ReadySignal ready) {
  // Signals are taken by WaitForStop alone, in every thread started from here on.
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  MountFailure failure;
  const int mounted = options.Raw ? drive.MountDiskFiles(std::move(records), failure)
                                  : drive.Mount(std::move(records[0]), failure);
  if (mounted != 0) {
    ready.Send(false, failure.Text);
    return 1;
  }
  ready.Send(true, ServeMessage(options, drive));
  if (!options.Foreground) {
    int null = open("/dev/null", O_RDWR);
    for (int fd : {0, 1, 2}) dup2(null, fd);
    if (null > 2) close(null);
  }
  std::thread stopper([&] { WaitForStop(drive, options.Foreground); });
  drive.WaitForEnd();
  pthread_kill(stopper.native_handle(), SIGUSR1);
  stopper.join();
  drive.Unmount();  // after an unmount from outside: what is left goes, busy or not
  return 0;
}

PosixDriveOptions DriveOptions(const MountOptions& options) {
  MountOptionSet set;
  try {
    set = ParseMountOptions(options.OptionLists);
  } catch (const MountError& e) {
    throw CommandError(e.what(), kExitUsage);
  }
  return {.MountPoint = options.MountPoint,
          .Partition = options.Partition,
          .AllowExec = set.AllowExec,
          .CheckDigests = !options.NoCheck,
          .Source = std::filesystem::absolute(options.ImagePath).lexically_normal().string(),
          .Ownership = set.Ownership,
          .AllowOther = set.AllowOther,
          .RequireEmpty = !set.NonEmpty,
          .Debug = options.Debug};
}

void RunMount(MountOptions options) {
  RequireRoot("mounting");
  options.MountPoint = ExistingDirectory(options.MountPoint);
  if (!options.Raw && options.Partition == 0) throw CommandError("give --partition N, or --raw");
  // FUSE's debugging output goes to the terminal: the daemon stays in front to keep one.
  if (options.Debug) options.Foreground = true;
  PosixMountedDrive drive(DriveOptions(options));
  // Claimed before the image and the password: a second mount of the same point fails here
  // instead of asking for a password it cannot use.
  MountFailure failure;
  if (drive.Claim(failure) != 0) throw CommandError(failure.Text);

  FolderListing listing = LoadListing(options.ImagePath);
  PasswordKeeper passwords(options.Password);
  std::vector<std::vector<uint8_t>> records;
  if (options.Raw) {
    for (const PartitionRow& row : listing.Rows) records.push_back(MountRecordFor(listing, row, passwords));
  } else {
    records.push_back(MountRecordFor(listing, ChoosePartition(listing, options.Partition), passwords));
  }

  if (options.Foreground) {
    if (Serve(options, std::move(records), drive, ReadySignal(-1)) != 0) throw CommandError("mount failed");
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
    _exit(Serve(options, std::move(records), drive, ReadySignal(pipeFds[1])));
  }
  drive.Release();  // the daemon's now, whether it mounts or cleans up after failing
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
  mount->add_option("-o", options->OptionLists,
                    "Comma-separated: exec (programs on the file system may run; set-user-ID bits and device "
                    "files never work), allow_other (users other than root may enter a FUSE mount), "
                    "uid=, gid=, umask=, fmask=, dmask= (owner and modes of NTFS and FAT files and of the "
                    "disk files), nonempty (mount over files)")
      ->allow_extra_args(false);
  mount->add_flag("-d,--debug", options->Debug, "Print every FUSE request and reply (stays in the foreground)");
  mount->add_option("--password-file", options->Password.PasswordFile,
                    "Read the password from the file's first line (else HARVESTA_PASSWORD or a prompt)");
  mount->callback([options] { RunMount(*options); });
}
