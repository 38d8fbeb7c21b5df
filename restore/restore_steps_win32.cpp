#include "restore_steps_win32.h"

#include <windows.h>

#include <cctype>

#include "boot_updates_win32.h"
#include "format_volume_win32.h"
#include "junction_fixup_win32.h"
#include "mounted_drive_win32.h"
#include "robocopy_runner_win32.h"

namespace {

bool IsKnownDrive(const std::string& root) {
  const UINT type = GetDriveTypeA(root.c_str());
  return type != DRIVE_UNKNOWN && type != DRIVE_NO_ROOT_DIR;
}

std::string UpperCase(std::string text) {
  for (char& c : text) c = char(toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

bool Win32MountedDrives::LetterInUse(char letter) { return DriveLetterMapped(letter); }

std::vector<unsigned> Win32MountedDrives::FreeDeviceNumbers() { return ListFreeDeviceNumbers(); }

int Win32MountedDrives::Mount(const MountValues& values, unsigned deviceNumber, char letter,
                              MountFailure& failure) {
  return Win32MountedDrive(deviceNumber, letter).MountValues(values, failure);
}

int Win32MountedDrives::Unmount(char letter) {
  // The device number only matters to a mount: the unmount finds the device behind the letter.
  return Win32MountedDrive(0, letter).Unmount();
}

uint64_t Win32RestoreVolumes::VolumeSize(const std::string& root) {
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  if (!GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters))
    return 0;
  return uint64_t{clusters} * sectorsPerCluster * bytesPerSector;
}

std::optional<std::string> Win32RestoreVolumes::VolumeOfPath(const std::string& path) {
  char root[MAX_PATH];
  if (path.empty() || !GetVolumePathNameA(path.c_str(), root, sizeof root) || !IsKnownDrive(root))
    return std::nullopt;
  char volume[MAX_PATH];
  if (GetVolumeNameForVolumeMountPointA(root, volume, sizeof volume)) return std::string(volume);
  return UpperCase(root);
}

int Win32RestoreVolumes::LockAndDismountVolume(const std::string& devicePath, bool force) {
  return int(::LockAndDismountVolume(devicePath, force));
}

int Win32RestoreVolumes::FormatVolume(const std::string& driveName, const std::string& label,
                                      const std::string& fileSystem, uint32_t clusterSize) {
  return ::FormatVolume(ui_, driveName, label, fileSystem, clusterSize);
}

CopyCommandResult Win32CopyCommandRunner::RunCopy(const CopyCommand& command, RestoreUserInterface& ui) {
  const RobocopyRun run = RunRobocopy(
      ui, {command.Template, command.HideOutput, command.Destination, command.VirtualLetter, settingsFolder_});
  return {run.Result, run.Ran, run.Cancelled};
}

int Win32JunctionWalk::FixJunctionPoints(const std::string& sourcePattern, char destinationLetter) {
  return ::FixJunctionPoints(sourcePattern, destinationLetter);
}

int Win32BootUpdates::UpdatePartitionBootSector(char sourceLetter, char destinationLetter,
                                                BootSectorError& error) {
  error = ::UpdatePartitionBootSector(sourceLetter, destinationLetter);
  return error == BootSectorError::None ? 1 : 0;
}

DestinationDisk Win32BootUpdates::UpdateDiskRecord(char destinationLetter, uint32_t imageSignature,
                                                   DiskRecordChoices choices) {
  return UpdateDestinationDisk(destinationLetter, imageSignature, choices);
}

int Win32BootUpdates::UpdateBootConfiguration(char destinationLetter,
                                              const BootConfigurationRewrite& rewrite) {
  return ::UpdateBootConfiguration(DriveRoot(destinationLetter), rewrite);
}

void Win32BootUpdates::MarkBootStatus(char destinationLetter) { ::MarkBootStatus(DriveRoot(destinationLetter)); }
