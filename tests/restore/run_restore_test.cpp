#include <gtest/gtest.h>

#include <functional>

#include "command_template.h"
#include "completion_report.h"
#include "image_fixtures.h"
#include "recording_steps.h"
#include "run_restore.h"

namespace {

constexpr uint32_t kImageDiskSignature = 0x11223344;
constexpr uint64_t kImagePartitionStart = 0x100000;

// A password-protected backup split over several files, written once for all cases.
class RunRestoreTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempFolder;
    WriteWholeFile(folder_->File("volume.raw"), MakeVolumeBytes(3 * 16384, 7));
    ImageWriterOptions options;
    options.OutputPath = folder_->File("backup.qvimg");
    options.BlockSize = 16384;
    options.Password = "secret";
    options.SplitSize = 20000;
    WriterPartition partition;
    partition.SourcePath = folder_->File("volume.raw");
    partition.Start = kImagePartitionStart;
    partition.Label = "System";
    options.Disks = {{0, kImageDiskSignature, 0, {partition}}};
    paths_ = WriteImage(options);
  }
  static void TearDownTestSuite() { delete folder_; }

  static const std::string& CataloguePath() { return paths_.back(); }
  static std::vector<ImageSet> LoadBackup() { return LoadSets(paths_); }

 private:
  static inline TempFolder* folder_ = nullptr;
  static inline std::vector<std::string> paths_;
};

// One run: what the user chose and how the machine answers.
struct RunCase {
  RestoreChoices Choices;
  MachineAnswers Answers;
  std::string ChosenPath;
  const ImagePartition* Selected = nullptr;
};

struct Row {
  const char* Name;
  std::function<void(RunCase&)> Setup;
  std::vector<std::string> Log;  // "<image>" stands for the catalogue file's path
  int Result;
  RestoreStatus Status;
  std::optional<std::string> Report;
};

std::string WithImagePath(std::string line, const std::string& path) {
  const std::string placeholder = "<image>";
  if (const size_t at = line.find(placeholder); at != std::string::npos)
    line.replace(at, placeholder.size(), path);
  return line;
}

const std::string kPassword = "password given";
const std::string kMount = "mount E: on device 2, key 'secret', catalogue <image>";
const std::string kFormatQuestion = "ask All data on drive F: will be lost! Proceed with format?";
const std::string kInUseQuestion =
    "| ask The volume is currently in use. To force a format click 'Yes'.";
const std::string kCopy = "copy E: to F:\\ with " + std::string(kDefaultCommandTemplate);
const std::vector<std::string> kFormatting = {"wait opened", "| wait title Formatting...",
                                              "| wait steps", "| lock \\\\.\\F:"};
const std::vector<std::string> kJunctions = {
    "wait opened", "| wait title Updating junction points...", "| wait marquee",
    "| junctions E:\\* to F:", "wait closed"};

std::vector<std::string> Lines(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> lines;
  for (const auto& part : parts) lines.insert(lines.end(), part.begin(), part.end());
  return lines;
}

void Format(RunCase& c) {
  c.Choices.Format = true;
  c.Answers.Answers = {true};
}
void Fat32(RunCase& c) {
  Format(c);
  c.Choices.FileSystemIndex = kFileSystemFat32;
  c.Choices.FileSystemName = "FAT32";
  c.Choices.ClusterIndex = 6;
}
void DiskRecordRead(RunCase& c) {
  c.Answers.Disk = {0x200000, DiskRecordEdit{true, 0x55667788, kImageDiskSignature}, true};
}

constexpr RestoreStatus kNotMounted{0, false, false, false};
constexpr RestoreStatus kStoppedMounted{'E', false, false, false};
constexpr RestoreStatus kFinished{'E', true, false, false};

// The workflow's decision table: every exit, the edge cases of its checks, and its mends
// (a failed mount ends the run, no free device, no format of the backup's own volume).
TEST_F(RunRestoreTest, FollowsTheDecisionTable) {
  const std::vector<Row> rows = {
      {"chosen file in no open set",
       [](RunCase& c) { c.ChosenPath = "elsewhere/other.qvimg"; },
       {"message 'elsewhere/other.qvimg' is corrupt"}, 0, kNotMounted, std::nullopt},
      {"selected partition not among the set's complete catalogues",
       [](RunCase& c) {
         static const ImagePartition elsewhere;
         c.Selected = &elsewhere;
       },
       {"message The chosen partition was not found among the complete image files of '<image>'"},
       0,
       kNotMounted, std::nullopt},
      {"every device number in use: no password asked, nothing mounted",
       [](RunCase& c) { c.Answers.FreeDevices = {}; },
       {"message Maximum of 10 virtual drives can be allocated at any one time"}, 0, kNotMounted,
       std::nullopt},
      {"password dialog cancelled: nothing shown, show result kept",
       [](RunCase& c) { c.Answers.Password = std::nullopt; }, {"password cancelled"}, 0,
       RestoreStatus{}, std::nullopt},
      {"mount refused and shown by the mount: the run ends, nothing to unmount",
       [](RunCase& c) {
         c.Answers.MountResult = -1;
         c.Answers.Failure = {true, "The parameter is incorrect."};
       },
       {kPassword, kMount, "message The parameter is incorrect."}, 0, kNotMounted, std::nullopt},
      {"every letter D to Z taken: X, busy, and its failure is shown",
       [](RunCase& c) {
         c.Answers.LettersInUse = "DEFGHIJKLMNOPQRSTUVWXYZ";
         c.Answers.MountResult = -1;
         c.Answers.Failure = {false, "The requested resource is in use."};
       },
       {kPassword, "mount X: on device 2, key 'secret', catalogue <image>",
        "message The requested resource is in use."},
       0, kNotMounted, std::nullopt},
      {"mount failed without a message or a system text",
       [](RunCase& c) { c.Answers.MountResult = -1; },
       {kPassword, kMount, "message The partition could not be mounted on drive E:"}, 0,
       kNotMounted, std::nullopt},
      {"format only, NTFS",
       [](RunCase& c) {
         Format(c);
         c.Choices.ClusterIndex = 0;
       },
       Lines({{kPassword, kMount, kFormatQuestion + " -> Yes"},
              kFormatting,
              {"| format F: 'System' NTFS 512", "wait closed", "boot status F:", "unmount E:"}}),
       1, kFinished, "Complete"},
      {"a destination named by its device: the question and the formatter get the name",
       [](RunCase& c) {
         Format(c);
         c.Choices.DestinationName = "/dev/sdb1";
       },
       Lines({{kPassword, kMount,
               "ask All data on /dev/sdb1 will be lost! Proceed with format? -> Yes"},
              kFormatting,
              {"| format /dev/sdb1 'System' NTFS 4096", "wait closed", "boot status F:",
               "unmount E:"}}),
       1, kFinished, "Complete"},
      {"FAT32 of exactly 32 GiB is formatted; a lock that did not open is not asked about",
       [](RunCase& c) {
         Fat32(c);
         c.Answers.VolumeSize = uint64_t{32} << 30;
         c.Answers.LockResult = kVolumeNotOpened;
       },
       Lines({{kPassword, kMount, kFormatQuestion + " -> Yes"},
              kFormatting,
              {"| format F: 'System' FAT32 32768", "wait closed", "boot status F:", "unmount E:"}}),
       1, kFinished, "Complete"},
      {"FAT32 one byte above 32 GiB is refused",
       [](RunCase& c) {
         Fat32(c);
         c.Answers.VolumeSize = (uint64_t{32} << 30) + 1;
       },
       {kPassword, kMount, "message The volume is too big for FAT32, please use NTFS.",
        "unmount E:"},
       0, kStoppedMounted, std::nullopt},
      {"format answered No", [](RunCase& c) { c.Choices.Format = true; },
       {kPassword, kMount, kFormatQuestion + " -> No", "unmount E:"}, 0, kStoppedMounted,
       std::nullopt},
      {"in use, force answered No",
       [](RunCase& c) {
         Format(c);
         c.Answers.LockResult = kVolumeInUse;
       },
       Lines({{kPassword, kMount, kFormatQuestion + " -> Yes"},
              kFormatting,
              {kInUseQuestion + " -> No", "wait closed", "unmount E:"}}),
       0, kStoppedMounted, std::nullopt},
      {"in use, force Yes: the format runs though the forced dismount failed, and fails",
       [](RunCase& c) {
         Format(c);
         c.Answers.Answers = {true, true};
         c.Answers.LockResult = kVolumeInUse;
         c.Answers.ForcedLockResult = kVolumeDismountFailed;
         c.Answers.FormatResult = 0;
       },
       Lines({{kPassword, kMount, kFormatQuestion + " -> Yes"},
              kFormatting,
              {kInUseQuestion + " -> Yes", "| lock \\\\.\\F: with force",
               "| format F: 'System' NTFS 4096", "wait closed",
               "message An error occured during format", "unmount E:"}}),
       0, kStoppedMounted, std::nullopt},
      {"formatting the volume that holds the backup is refused before the question",
       [](RunCase& c) {
         Format(c);
         c.Answers.BackupVolume = "volume F";
       },
       {kPassword, kMount,
        "message Drive F: cannot be formatted: it holds the backup being restored ('<image>'), "
        "which formatting would destroy. Choose another destination, or copy without "
        "formatting.",
        "unmount E:"},
       0, kStoppedMounted, std::nullopt},
      {"copying onto the volume that holds the backup is allowed; junctions follow the copy",
       [](RunCase& c) {
         c.Choices.RunCopy = true;
         c.Answers.BackupVolume = "volume F";
       },
       Lines({{kPassword, kMount, kCopy}, kJunctions, {"boot status F:", "unmount E:"}}), 1,
       {'E', true, true, false}, "Please see 'F:\\Harvesta.txt' for details"},
      {"copy command that cannot be started",
       [](RunCase& c) {
         c.Choices.RunCopy = true;
         c.Choices.HideOutput = true;
         c.Answers.Copy = {kCopyNotStarted, false, false};
       },
       {kPassword, kMount, "copy E: to F:\\ hidden with " + std::string(kDefaultCommandTemplate),
        "message An error occurred running the command.", "unmount E:"},
       0, kStoppedMounted, std::nullopt},
      {"copy cancelled: no junction walk, every boot repair still runs",
       [](RunCase& c) {
         c.Choices.RunCopy = true;
         c.Choices.Bootable = true;
         c.Answers.Copy = {0, true, true};
         DiskRecordRead(c);
       },
       {kPassword, kMount, kCopy, "boot sector E: to F:",
        "disk record F: signature 11223344 mark active replace id",
        "boot configuration F: 100000/11223344 to 200000/11223344", "boot status F:",
        "unmount E:"},
       1, {'E', true, true, true}, "Cancelled"},
      {"boot sector refused and no disk record read: the rest goes on",
       [](RunCase& c) {
         c.Choices.Bootable = true;
         c.Answers.BootSectorResult = 0;
       },
       {kPassword, kMount, "boot sector E: to F:",
        "disk record F: signature 11223344 mark active replace id", "boot status F:",
        "unmount E:"},
       1, kFinished, "Complete"},
      {"mark active alone: no boot sector, no boot configuration",
       [](RunCase& c) {
         c.Choices.Bootable = true;
         c.Choices.Boot = {true, false, false, false};
         DiskRecordRead(c);
       },
       {kPassword, kMount, "disk record F: signature 11223344 mark active", "boot status F:",
        "unmount E:"},
       1, kFinished, "Complete"},
  };

  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    std::vector<ImageSet> sets = LoadBackup();
    RunCase run;
    run.Choices.Destination = "F:\\";
    run.Choices.CommandTemplate = kDefaultCommandTemplate;
    run.ChosenPath = CataloguePath();
    run.Selected = sets.at(0).CatalogueFiles.at(0)->Disks.at(0)->Partitions.at(0).get();
    row.Setup(run);

    RecordingMachine machine(run.Answers);
    RestoreSteps steps = machine.Steps();
    RestoreStatus status;
    const int result = RunRestore({run.ChosenPath, sets, run.Selected}, run.Choices, status, steps);

    std::vector<std::string> expected;
    for (const std::string& line : row.Log)
      expected.push_back(WithImagePath(line, CataloguePath()));
    EXPECT_EQ(machine.Log(), expected);
    EXPECT_EQ(result, row.Result);
    EXPECT_EQ(status, row.Status);
    EXPECT_EQ(CompletionReport(result, status, run.Choices), row.Report);
    EXPECT_EQ(CurrentWaitWindow(), nullptr);
  }
}

// The accepted password stays with its image, and is asked again on the next run.
TEST_F(RunRestoreTest, AsksThePasswordOnEveryRunAndKeepsItWithTheImage) {
  std::vector<ImageSet> sets = LoadBackup();
  CImageFile& image = *sets[0].CatalogueFiles[0];
  RestoreChoices choices;
  choices.Destination = "F:\\";
  for (int run = 0; run < 2; ++run) {
    RecordingMachine machine(MachineAnswers{});
    RestoreSteps steps = machine.Steps();
    RestoreStatus status;
    ASSERT_EQ(RunRestore({CataloguePath(), sets, image.Disks[0]->Partitions[0].get()}, choices,
                         status, steps),
              1);
    EXPECT_EQ(machine.Log().front(), kPassword);
    EXPECT_EQ(image.Password, "secret");
  }
}

TEST(CompletionReport, FollowsTheRunsOutcomeAndTheLogTheCommandNames) {
  struct Case {
    int Result;
    RestoreStatus Status;
    std::string Template;
    std::optional<std::string> Report;
  };
  const std::string defaultTemplate(kDefaultCommandTemplate);
  const Case cases[] = {
      {0, {'X', true, true, false}, defaultTemplate, std::nullopt},
      {1, {'X', false, true, false}, defaultTemplate, std::nullopt},
      {1, {'X', true, true, true}, defaultTemplate, "Cancelled"},
      {1, {'X', true, false, true}, defaultTemplate, "Cancelled"},
      {1, {'X', true, false, false}, defaultTemplate, "Complete"},
      {1, {'X', true, true, false}, defaultTemplate, "Please see 'E:\\Harvesta.txt' for details"},
      {1, {'X', true, true, false}, "copy <SRC> /LOG:<DST>Harvesta.txt",
       "Please see 'E:\\Harvesta.txt' for details"},
      {1, {'X', true, true, false}, "copy /LOG:a /LOG:b", "Please see 'a' for details"},
      {1, {'X', true, true, false}, "copy <SRC> <DST>", "Finished"},
      {1, {'X', true, true, false}, "copy /LOG:", "Finished"},
      {1, {'X', true, true, false}, "copy /log:E:\\x.txt", "Finished"},
  };
  for (const Case& c : cases) {
    RestoreChoices choices;
    choices.Destination = "E:\\";
    choices.CommandTemplate = c.Template;
    EXPECT_EQ(CompletionReport(c.Result, c.Status, choices), c.Report) << c.Template;
  }
  // The blank that ends the log path is looked for from its second character on.
  EXPECT_EQ(CommandLogPath("copy /LOG: x y"), " x");
}

}  // namespace
