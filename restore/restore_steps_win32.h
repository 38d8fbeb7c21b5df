// The restore steps over this machine: each interface of restore_steps.h handed to the Win32
// operations that do its work (the driver's drives, the format library, the copy process, the
// junction walk, the boot sectors and files).
#pragma once
#include <string>

#include "restore_steps.h"

class Win32MountedDrives : public MountedDrives {
 public:
  bool LetterInUse(char letter) override;
  std::vector<unsigned> FreeDeviceNumbers() override;
  // The mount shows the device's and the driver's refusals itself, but does not say whether it
  // did: UserTold is inferred from its error, silent for a letter that is invalid or already
  // opens. A failed mapping of the letter counts as told, though nothing was shown.
  int Mount(const MountValues& values, unsigned deviceNumber, char letter,
            MountFailure& failure) override;
  int Unmount(char letter) override;
};

class Win32RestoreVolumes : public RestoreVolumes {
 public:
  // The format library's loading failures are told on ui.
  explicit Win32RestoreVolumes(RestoreUserInterface& ui) : ui_(ui) {}
  uint64_t VolumeSize(const std::string& root) override;
  // The volume's GUID name, or (for a drive with none, such as a share) its root in upper case.
  std::optional<std::string> VolumeOfPath(const std::string& path) override;
  int LockAndDismountVolume(const std::string& devicePath, bool force) override;
  int FormatVolume(const std::string& driveName, const std::string& label,
                   const std::string& fileSystem, uint32_t clusterSize) override;

 private:
  RestoreUserInterface& ui_;
};

class Win32CopyCommandRunner : public CopyCommandRunner {
 public:
  // settingsFolder keeps the template that was run, for the next start.
  explicit Win32CopyCommandRunner(std::string settingsFolder)
      : settingsFolder_(std::move(settingsFolder)) {}
  CopyCommandResult RunCopy(const CopyCommand& command, RestoreUserInterface& ui) override;

 private:
  std::string settingsFolder_;
};

class Win32JunctionWalk : public JunctionWalk {
 public:
  int FixJunctionPoints(const std::string& sourcePattern, char destinationLetter) override;
};

class Win32BootUpdates : public BootUpdates {
 public:
  int UpdatePartitionBootSector(char sourceLetter, char destinationLetter,
                                BootSectorError& error) override;
  DestinationDisk UpdateDiskRecord(char destinationLetter, uint32_t imageSignature,
                                   DiskRecordChoices choices) override;
  int UpdateBootConfiguration(char destinationLetter,
                              const BootConfigurationRewrite& rewrite) override;
  void MarkBootStatus(char destinationLetter) override;
};

// All of them for one front end, which keeps this alive for as long as it runs restores.
class Win32RestoreSteps {
 public:
  Win32RestoreSteps(RestoreUserInterface& ui, std::string settingsFolder)
      : ui_(ui), volumes_(ui), copy_(std::move(settingsFolder)) {}
  RestoreSteps Steps() { return {ui_, drives_, volumes_, copy_, junctions_, boot_}; }

 private:
  RestoreUserInterface& ui_;
  Win32MountedDrives drives_;
  Win32RestoreVolumes volumes_;
  Win32CopyCommandRunner copy_;
  Win32JunctionWalk junctions_;
  Win32BootUpdates boot_;
};
