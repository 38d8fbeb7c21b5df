// harvesta unmount [--lazy] MOUNTPOINT: the file system, then the FUSE layer under it, and the
// daemon that served them.
#include <iostream>
#include <memory>

#include "commands.h"
#include "daemon_unmount.h"
#include "mount_error.h"
#include "mount_point_argument.h"

namespace {

int StatusOf(const MountError& error) {
  switch (error.Kind) {
    case MountErrorKind::Busy: return kExitBusy;
    case MountErrorKind::NothingMounted: return kExitNothingMounted;
    case MountErrorKind::Failed: break;
  }
  return kExitFailure;
}

void RunUnmount(const std::string& given, bool lazy) {
  RequireRoot("unmounting");
  const std::string mountPoint = ExistingDirectory(given);
  try {
    if (!lazy) return UnmountDaemonMount(mountPoint);
    const std::string users = UnmountDaemonMountLazily(mountPoint);
    if (!users.empty())
      std::cout << mountPoint << ": detached; still in use by " << users
                << ": the image stays open until the last of them lets go" << std::endl;
  } catch (const MountError& e) {
    throw CommandError(e.what(), StatusOf(e));
  }
}

}  // namespace

void AddUnmountCommand(CLI::App& app) {
  auto mountPoint = std::make_shared<std::string>();
  auto lazy = std::make_shared<bool>(false);
  CLI::App* unmount = app.add_subcommand("unmount", "Unmount what harvesta mount mounted");
  unmount->add_option("MOUNTPOINT", *mountPoint, "The folder given to harvesta mount")->required();
  unmount->add_flag("-l,--lazy", *lazy,
                    "Detach now even while in use; the image stays open until the last program lets go");
  unmount->callback([mountPoint, lazy] { RunUnmount(*mountPoint, *lazy); });
}
