#include "recording_steps.h"

#include <cstdio>
#include <cstring>

namespace {

std::string Drive(char letter) { return {letter, ':'}; }

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
  return text;
}

std::string Reference(const DeviceReference& reference) {
  return Hex(reference.PartitionOffset) + "/" + Hex(reference.Signature);
}

class RecordingWaitWindow final : public WaitWindow {
 public:
  explicit RecordingWaitWindow(RecordingMachine& machine) : machine_(machine) {}
  ~RecordingWaitWindow() override { machine_.Write("wait closed"); }
  void SetTitle(const std::string& title) override { machine_.Write("wait title " + title); }
  void ShowSteps() override { machine_.Write("wait steps"); }
  void ShowMarquee() override { machine_.Write("wait marquee"); }
  void Pump() override {}
  bool Cancelled() const override { return false; }
  void EnableCancel() override {}

 private:
  RecordingMachine& machine_;
};

}  // namespace

void RecordingMachine::Write(const std::string& line) {
  log_.push_back(CurrentWaitWindow() ? "| " + line : line);
}

void RecordingMachine::ShowMessage(const std::string& text) { Write("message " + text); }

bool RecordingMachine::Ask(const std::string& question) {
  const bool yes = !answers_.Answers.empty() && answers_.Answers.front();
  if (!answers_.Answers.empty()) answers_.Answers.pop_front();
  Write("ask " + question + (yes ? " -> Yes" : " -> No"));
  return yes;
}

bool RecordingMachine::AskPassword(const CImageFile&, std::string& password) {
  Write(answers_.Password ? "password given" : "password cancelled");
  if (answers_.Password) password = *answers_.Password;
  return answers_.Password.has_value();
}

std::unique_ptr<WaitWindow> RecordingMachine::OpenWaitWindow(WaitKind kind) {
  Write(kind == WaitKind::Plain ? "wait opened" : "wait opened with cancel");
  return std::make_unique<RecordingWaitWindow>(*this);
}

bool RecordingMachine::LetterInUse(char letter) {
  return answers_.LettersInUse.find(letter) != std::string::npos;
}

std::vector<unsigned> RecordingMachine::FreeDeviceNumbers() { return answers_.FreeDevices; }

int RecordingMachine::Mount(const MountValues& values, unsigned deviceNumber, char letter,
                            MountFailure& failure) {
  const auto* key = reinterpret_cast<const char*>(values.Key.Key.data());
  Write("mount " + Drive(letter) + " on device " + std::to_string(deviceNumber) + ", key '" +
        std::string(key, strnlen(key, values.Key.Key.size())) + "', catalogue " +
        values.CataloguePath);
  if (answers_.MountResult != 0) {
    failure = answers_.Failure;
    if (failure.UserTold) Write("message " + failure.Text);  // as the mount shows it
  }
  return answers_.MountResult;
}

int RecordingMachine::Unmount(char letter) {
  Write("unmount " + Drive(letter));
  return 0;
}

uint64_t RecordingMachine::VolumeSize(const std::string&) { return answers_.VolumeSize; }

std::optional<std::string> RecordingMachine::VolumeOfPath(const std::string& path) {
  if (path.size() == 3 && path.substr(1) == ":\\") return "volume " + path.substr(0, 1);
  return answers_.BackupVolume;
}

int RecordingMachine::LockAndDismountVolume(const std::string& devicePath, bool force) {
  Write("lock " + devicePath + (force ? " with force" : ""));
  return force ? answers_.ForcedLockResult : answers_.LockResult;
}

int RecordingMachine::FormatVolume(const std::string& driveName, const std::string& label,
                                   const std::string& fileSystem, uint32_t clusterSize) {
  Write("format " + driveName + " '" + label + "' " + fileSystem + " " +
        std::to_string(clusterSize));
  return answers_.FormatResult;
}

CopyCommandResult RecordingMachine::RunCopy(const CopyCommand& command, RestoreUserInterface&) {
  Write("copy " + Drive(command.VirtualLetter) + " to " + command.Destination +
        (command.HideOutput ? " hidden" : "") + " with " + command.Template);
  return answers_.Copy;
}

int RecordingMachine::FixJunctionPoints(const std::string& sourcePattern, char destinationLetter) {
  Write("junctions " + sourcePattern + " to " + Drive(destinationLetter));
  return 1;
}

int RecordingMachine::UpdatePartitionBootSector(char sourceLetter, char destinationLetter,
                                                BootSectorError& error) {
  Write("boot sector " + Drive(sourceLetter) + " to " + Drive(destinationLetter));
  if (answers_.BootSectorResult == 1) return 1;
  error = BootSectorError::DestinationNotNtfs;
  return 0;
}

DestinationDisk RecordingMachine::UpdateDiskRecord(char destinationLetter, uint32_t imageSignature,
                                                   DiskRecordChoices choices) {
  Write("disk record " + Drive(destinationLetter) + " signature " + Hex(imageSignature) +
        (choices.MarkActive ? " mark active" : "") + (choices.ReplaceDiskId ? " replace id" : ""));
  return answers_.Disk;
}

int RecordingMachine::UpdateBootConfiguration(char destinationLetter,
                                              const BootConfigurationRewrite& rewrite) {
  Write("boot configuration " + Drive(destinationLetter) + " " + Reference(rewrite.Key) + " to " +
        Reference(rewrite.Replacement));
  return 1;
}

void RecordingMachine::MarkBootStatus(char destinationLetter) {
  Write("boot status " + Drive(destinationLetter));
}
