#include "run_restore.h"

#include <memory>

#include "destination_checks.h"
#include "drive_letter.h"
#include "restore_ui.h"

namespace {

struct PartitionInSet {
  CImageFile* Image = nullptr;
  const ImageDisk* Disk = nullptr;
  const ImagePartition* Partition = nullptr;
};

ImageSet* FindChosenSet(std::vector<ImageSet>& sets, const CStdString& chosenPath) {
  for (ImageSet& set : sets) {
    ImageId id{};
    uint16_t backupNumber = 0;
    if (FindImageByPath(set, chosenPath, id, backupNumber)) return &set;
  }
  return nullptr;
}

// Only catalogue files whose every referenced file is present can be mounted.
std::optional<PartitionInSet> FindSelectedPartition(const ImageSet& set,
                                                    const ImagePartition* selected) {
  for (const auto& image : set.CatalogueFiles) {
    if (!AllFilesPresent(set, *image)) continue;
    for (const auto& disk : image->Disks)
      for (const auto& partition : disk->Partitions)
        if (partition.get() == selected) return PartitionInSet{image.get(), disk.get(), selected};
  }
  return std::nullopt;
}

// The current wait window of one phase: set while it is shown, cleared before it goes.
class PhaseWaitWindow {
 public:
  PhaseWaitWindow(RestoreUserInterface& ui, const std::string& title)
      : window_(ui.OpenWaitWindow(WaitKind::Plain)) {
    SetCurrentWaitWindow(window_.get());
    window_->SetTitle(title);
  }
  ~PhaseWaitWindow() { Close(); }
  PhaseWaitWindow(const PhaseWaitWindow&) = delete;
  PhaseWaitWindow& operator=(const PhaseWaitWindow&) = delete;

  WaitWindow& Window() { return *window_; }
  void Close() {
    if (!window_) return;
    SetCurrentWaitWindow(nullptr);
    window_.reset();
  }

 private:
  std::unique_ptr<WaitWindow> window_;
};

// One run from the mount on: every way out of it unmounts the virtual drive.
class MountedRun {
 public:
  MountedRun(const RestoreChoices& choices, RestoreStatus& status, RestoreSteps& steps,
             const ImageSet& set, const PartitionInSet& found)
      : choices_(choices), status_(status), steps_(steps), set_(set), found_(found) {}

  int Run() {
    if (choices_.Format && !FormatDestination()) return Stop();
    const std::string sourcePattern = std::string{status_.VirtualLetter} + ":\\*";
    if (choices_.RunCopy && !Copy(sourcePattern)) return Stop();
    if (choices_.Bootable) MakeBootable();
    steps_.Boot.MarkBootStatus(DestinationLetter());
    steps_.Drives.Unmount(status_.VirtualLetter);
    return 1;
  }

 private:
  char DestinationLetter() const {
    return choices_.Destination.empty() ? '\0' : choices_.Destination[0];
  }
  std::string DriveName() const { return choices_.Destination.substr(0, 2); }
  std::string FormatName() const {
    return choices_.DestinationName.empty() ? DriveName() : choices_.DestinationName;
  }
  std::string ShownName() const {
    return choices_.DestinationName.empty() ? "drive " + DriveName() : choices_.DestinationName;
  }

  // The user has been told why, or has declined.
  int Stop() {
    status_.ShowResult = false;
    steps_.Drives.Unmount(status_.VirtualLetter);
    return 0;
  }

  bool FormatDestination() {
    RestoreUserInterface& ui = steps_.Ui;
    const std::string root = DriveName() + "\\";
    if (const auto held = FileOfSetOnVolume(steps_.Volumes, set_, root)) {
      ui.ShowMessage(FormatWouldDestroyBackupMessage(DriveName(), *held));
      return false;
    }
    if (choices_.FileSystemIndex == kFileSystemFat32 &&
        !FitsFat32(steps_.Volumes.VolumeSize(root))) {
      ui.ShowMessage("The volume is too big for FAT32, please use NTFS.");
      return false;
    }
    if (!ui.Ask("All data on " + ShownName() + " will be lost! Proceed with format?"))
      return false;

    PhaseWaitWindow wait(ui, "Formatting...");
    wait.Window().ShowSteps();
    const std::string devicePath = "\\\\.\\" + DriveName();
    if (steps_.Volumes.LockAndDismountVolume(devicePath, false) == kVolumeInUse) {
      if (!ui.Ask("The volume is currently in use. To force a format click 'Yes'.")) return false;
      steps_.Volumes.LockAndDismountVolume(devicePath, true);
    }
    const int formatted = steps_.Volumes.FormatVolume(FormatName(), found_.Partition->Volume.Label,
                                                      choices_.FileSystemName,
                                                      ClusterSizeBytes(choices_.ClusterIndex));
    wait.Close();
    if (formatted != 1) {
      ui.ShowMessage("An error occured during format");
      return false;
    }
    return true;
  }

  bool Copy(const std::string& sourcePattern) {
    const CopyCommand command{choices_.CommandTemplate, choices_.HideOutput, choices_.Destination,
                              status_.VirtualLetter};
    const CopyCommandResult copy = steps_.Copy.RunCopy(command, steps_.Ui);
    status_.RobocopyRan = status_.RobocopyRan || copy.Ran;
    status_.Cancelled = copy.Cancelled;
    if (copy.Result == kCopyNotStarted) {
      steps_.Ui.ShowMessage("An error occurred running the command.");
      return false;
    }
    // After a cancel the copy is incomplete; the boot steps still run.
    if (!status_.Cancelled) {
      PhaseWaitWindow wait(steps_.Ui, "Updating junction points...");
      wait.Window().ShowMarquee();
      steps_.Junctions.FixJunctionPoints(sourcePattern, DestinationLetter());
    }
    return true;
  }

  // Each repair that fails only leaves its own change undone.
  void MakeBootable() {
    BootUpdates& boot = steps_.Boot;
    const BootChoices& flags = choices_.Boot;
    if (flags.ReplaceBootSector) {
      BootSectorError error = BootSectorError::None;
      boot.UpdatePartitionBootSector(status_.VirtualLetter, DestinationLetter(), error);
    }
    const uint32_t imageSignature = found_.Disk->Signature();
    const DestinationDisk disk = boot.UpdateDiskRecord(
        DestinationLetter(), imageSignature, {flags.MarkActive, flags.ReplaceDiskId});
    const auto rewrite = ChooseBootConfigurationRewrite(
        flags.UpdateBootConfiguration, {found_.Partition->Start, imageSignature}, disk);
    if (rewrite) boot.UpdateBootConfiguration(DestinationLetter(), *rewrite);
  }

  const RestoreChoices& choices_;
  RestoreStatus& status_;
  RestoreSteps& steps_;
  const ImageSet& set_;
  const PartitionInSet found_;
};

std::string PartitionNotFoundMessage(const CStdString& chosenPath) {
  return "The chosen partition was not found among the complete image files of '" + chosenPath +
         "'";
}

// The mount's own failures that it did not show, such as a letter that was already taken.
std::string MountFailedMessage(char letter, const MountFailure& failure) {
  if (!failure.Text.empty()) return failure.Text;
  return std::string{"The partition could not be mounted on drive "} + letter + ":";
}

}  // namespace

char ChooseVirtualDriveLetter(MountedDrives& drives) {
  return ChooseDriveLetter([&](char letter) { return drives.LetterInUse(letter); });
}

int RunRestore(const RestoreSource& source, const RestoreChoices& choices, RestoreStatus& status,
               RestoreSteps& steps) {
  RestoreUserInterface& ui = steps.Ui;
  const char letter = ChooseVirtualDriveLetter(steps.Drives);

  ImageSet* set = FindChosenSet(source.Sets, source.ChosenImagePath);
  if (!set) {
    status.ShowResult = false;
    ui.ShowMessage("'" + source.ChosenImagePath + "' is corrupt");
    return 0;
  }
  const std::vector<unsigned> freeDevices = steps.Drives.FreeDeviceNumbers();

  // Nothing was restored: saying "Complete" would be wrong, and there is no drive to unmount.
  const auto found = FindSelectedPartition(*set, source.Selected);
  if (!found) {
    status.ShowResult = false;
    ui.ShowMessage(PartitionNotFoundMessage(source.ChosenImagePath));
    return 0;
  }

  // Checked before the password: with no device to mount on, it would be asked for nothing.
  if (freeDevices.empty()) {
    status.ShowResult = false;
    ui.ShowMessage("Maximum of 10 virtual drives can be allocated at any one time");
    return 0;
  }

  CImageFile& image = *found->Image;
  if (image.PasswordFlag) {
    CStdString password;
    if (!ui.AskPassword(image, password)) return 0;
    image.Password = password;
  }
  const MountValues values = MakeMountValues(*set, image, *found->Partition);
  // A failed mount ends the run as failed: nothing was restored, and the letter was never ours
  // to unmount (it may be another virtual drive's).
  MountFailure failure;
  if (steps.Drives.Mount(values, freeDevices.front(), letter, failure) != 0) {
    status.ShowResult = false;
    if (!failure.UserTold) ui.ShowMessage(MountFailedMessage(letter, failure));
    return 0;
  }
  status.VirtualLetter = letter;
  return MountedRun(choices, status, steps, *set, *found).Run();
}
