// A machine for the restore workflow that answers as told and writes every call it gets, in
// order, as one line of text. Lines written while a wait window is the current one start with
// "| ", so the log also shows which steps run under a wait window.
#pragma once
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "restore_steps.h"
#include "restore_ui.h"

struct MachineAnswers {
  std::string LettersInUse = "D";  // DOS device names that answer
  std::vector<unsigned> FreeDevices = {2, 5};
  std::optional<std::string> Password = "secret";  // nullopt: the dialog is cancelled
  int MountResult = 0;
  MountFailure Failure;                       // when MountResult is -1
  std::deque<bool> Answers;                   // to the questions, in order; No when none is left
  uint64_t VolumeSize = uint64_t{8} << 30;
  std::string BackupVolume = "volume C";      // where every file of the image set lies
  int LockResult = kVolumeDismounted;         // first LockAndDismountVolume, without force
  int ForcedLockResult = kVolumeDismounted;
  int FormatResult = 1;
  CopyCommandResult Copy = {1, true, false};  // robocopy's "files copied"
  int BootSectorResult = 1;
  DestinationDisk Disk;
};

class RecordingMachine final : public RestoreUserInterface,
                               public MountedDrives,
                               public RestoreVolumes,
                               public CopyCommandRunner,
                               public JunctionWalk,
                               public BootUpdates {
 public:
  explicit RecordingMachine(MachineAnswers answers) : answers_(std::move(answers)) {}
  RestoreSteps Steps() { return {*this, *this, *this, *this, *this, *this}; }
  const std::vector<std::string>& Log() const { return log_; }
  void Write(const std::string& line);

  void ShowMessage(const std::string& text) override;
  bool Ask(const std::string& question) override;
  bool AskPassword(const CImageFile& image, std::string& password) override;
  std::unique_ptr<WaitWindow> OpenWaitWindow(WaitKind kind) override;

  bool LetterInUse(char letter) override;
  std::vector<unsigned> FreeDeviceNumbers() override;
  int Mount(const MountValues& values, unsigned deviceNumber, char letter,
            MountFailure& failure) override;
  int Unmount(char letter) override;

  uint64_t VolumeSize(const std::string& root) override;
  std::optional<std::string> VolumeOfPath(const std::string& path) override;
  int LockAndDismountVolume(const std::string& devicePath, bool force) override;
  int FormatVolume(const std::string& driveName, const std::string& label,
                   const std::string& fileSystem, uint32_t clusterSize) override;

  CopyCommandResult RunCopy(const CopyCommand& command, RestoreUserInterface& ui) override;
  int FixJunctionPoints(const std::string& sourcePattern, char destinationLetter) override;

  int UpdatePartitionBootSector(char sourceLetter, char destinationLetter,
                                BootSectorError& error) override;
  DestinationDisk UpdateDiskRecord(char destinationLetter, uint32_t imageSignature,
                                   DiskRecordChoices choices) override;
  int UpdateBootConfiguration(char destinationLetter,
                              const BootConfigurationRewrite& rewrite) override;
  void MarkBootStatus(char destinationLetter) override;

 private:
  MachineAnswers answers_;
  std::vector<std::string> log_;
};
