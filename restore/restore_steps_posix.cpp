#include "restore_steps_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "device_numbers_posix.h"
#include "file_system_mount.h"
#include "format_volume_posix.h"
#include "restore_ui.h"
#include "runtime_folder.h"

namespace {

// The run's own folder under /run/harvesta, checked like every runtime folder there: the
// runtime folder of a name no mount point can have (it is not absolute).
std::string RunFolder() {
  const std::string folder = RuntimeFolder("restore " + std::to_string(getpid()));
  mkdir(folder.c_str(), 0700);
  return folder;
}

bool IsTargetRoot(const std::string& path) {
  return path.size() == 3 && toupper(static_cast<unsigned char>(path[0])) == kTargetLetter &&
         path.substr(1) == ":\\";
}

}  // namespace

PosixMountedDrives::~PosixMountedDrives() { UnmountAll(); }

void PosixMountedDrives::UnmountAll() {
  std::vector<char> letters;
  for (const auto& mounted : drives_) letters.push_back(mounted.first);
  for (const char letter : letters) Unmount(letter);
}

int PosixMountedDrives::Mount(const MountValues& values, unsigned, char letter,
                              MountFailure& failure) {
  if (drives_.count(letter)) {
    failure = {false, std::string{"drive "} + letter + ": is already mounted by this restore"};
    return -1;
  }
  const std::string point = folder_ + "/source-" + letter;
  mkdir(point.c_str(), 0700);
  auto drive = std::make_unique<PosixMountedDrive>(PosixDriveOptions{point});
  if (drive->MountValues(values, failure) != 0) {
    rmdir(point.c_str());
    return -1;
  }
  drives_[letter] = std::move(drive);
  return 0;
}

int PosixMountedDrives::Unmount(char letter) {
  PosixMountedDrive* drive = Drive(letter);
  if (!drive) return -1;
  if (drive->Unmount() != 0) return -1;
  rmdir(drive->Root().c_str());
  drives_.erase(letter);
  return 0;
}

PosixMountedDrive* PosixMountedDrives::Drive(char letter) const {
  const auto found = drives_.find(letter);
  return found == drives_.end() ? nullptr : found->second.get();
}

std::optional<std::string> PosixMountedDrives::Root(char letter) const {
  if (const PosixMountedDrive* drive = Drive(letter)) return drive->Root();
  return std::nullopt;
}

// The disk file lies in the mount point's runtime folder under a mounted file system, on the
// mount point itself when no file system could be mounted from it.
std::optional<std::string> PosixMountedDrives::DiskFile(char letter) const {
  const PosixMountedDrive* drive = Drive(letter);
  if (!drive || drive->DiskFileNames().empty()) return std::nullopt;
  const std::string name = drive->DiskFileNames().front();
  if (!drive->FileSystemMounted()) return drive->Root() + "/" + name;
  try {
    return RuntimeFolder(drive->Root()) + "/disk/" + name;
  } catch (const std::exception&) {
    return std::nullopt;  // /run/harvesta went bad while the drive was mounted
  }
}

uint64_t PosixRestoreVolumes::VolumeSize(const std::string& root) {
  return IsTargetRoot(root) ? target_.Size : 0;
}

std::optional<std::string> PosixRestoreVolumes::VolumeOfPath(const std::string& path) {
  if (IsTargetRoot(path)) {
    if (target_.IsDevice()) return DeviceNumberText(target_.Device);
    return VolumeOfPath(target_.Path);
  }
  if (const std::optional<dev_t> device = FileSystemDeviceOf(path))
    return DeviceNumberText(*device);
  return std::nullopt;
}

int PosixRestoreVolumes::LockAndDismountVolume(const std::string& devicePath, bool force) {
  if (devicePath.empty()) return kVolumeEmptyPath;
  if (!target_.IsDevice()) return kVolumeNotOpened;
  if (!mount_.Unmount()) return force ? kVolumeDismountFailed : kVolumeInUse;
  if (MountPointOfDevice(target_.Device)) return force ? kVolumeDismountFailed : kVolumeInUse;
  return kVolumeDismounted;
}

int PosixRestoreVolumes::FormatVolume(const std::string&, const std::string& label,
                                      const std::string& fileSystem, uint32_t clusterSize) {
  if (!target_.IsDevice() || !mount_.Unmount() || MountPointOfDevice(target_.Device)) return 0;
  const std::vector<std::string> command = FormatCommand(target_, label, fileSystem, clusterSize);
  if (command.empty()) return 0;
  return RunProgram(command) == 0 ? 1 : 0;
}

RestoreChoices PosixTargetChoices(const RestoreTarget& target, RestoreChoices choices) {
  choices.Destination = TargetRoot();
  choices.DestinationName = target.Path;
  return choices;
}

PosixRestoreSteps::PosixRestoreSteps(RestoreUserInterface& ui, const RestoreTarget& target)
    : ui_(ui),
      target_(target),
      folder_(RunFolder()),
      drives_(folder_),
      destination_(target, folder_ + "/destination"),
      volumes_(target, destination_),
      boot_(target, destination_, drives_) {}

PosixRestoreSteps::~PosixRestoreSteps() {
  Release();
  rmdir((folder_ + "/destination").c_str());
  rmdir(folder_.c_str());
}

RestoreSteps PosixRestoreSteps::Steps(CopyCommandRunner& copy, JunctionWalk& junctions) {
  return {ui_, drives_, volumes_, copy, junctions, boot_};
}

void PosixRestoreSteps::Release() {
  destination_.Unmount();
  drives_.UnmountAll();
}
