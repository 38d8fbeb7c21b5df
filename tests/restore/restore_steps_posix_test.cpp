// The whole restore workflow over the Linux steps on real parts: an image of a real NTFS volume
// mounted through FUSE and ntfs-3g, a loop disk with an MBR from sfdisk as the target, mkntfs,
// raw boot sectors. The copy stands in for the copier (another part's job): it writes a boot
// configuration store and a boot status file onto the mounted destination, which the boot
// repairs must then find (in other case) and edit.
#include "restore_steps_posix.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "device_numbers_posix.h"
#include "image_fixtures.h"
#include "loop_disk.h"
#include "recording_ui.h"
#include "run_restore.h"

namespace {

namespace fs = std::filesystem;

constexpr char kMbrScript[] = "label: dos\\nlabel-id: 0x11223344\\nstart=2048, type=7\\n";
constexpr char kGptScript[] = "label: gpt\\nstart=2048, size=40960\\n";
constexpr uint32_t kImageSignature = 0xCAFEF00D;
constexpr uint64_t kImageStart = 63 * 512;
constexpr size_t kReferenceAt = 1000;

class YesUi : public RecordingUi {
 public:
  bool Ask(const std::string& question) override {
    Questions.push_back(question);
    return true;
  }
  std::vector<std::string> Questions;
};

void Put(std::string& bytes, size_t at, uint64_t value, size_t length) {
  std::memcpy(bytes.data() + at, &value, length);
}
uint64_t Get(const std::string& bytes, size_t at, size_t length) {
  uint64_t value = 0;
  std::memcpy(&value, bytes.data() + at, length);
  return value;
}

// Writes what a copied Windows system holds for the boot repairs, and keeps the destination's
// freshly formatted boot area as it was before them.
class SystemFilesCopy : public CopyCommandRunner, public JunctionWalk {
 public:
  explicit SystemFilesCopy(PosixRestoreSteps& steps) : steps_(steps) {}
  CopyCommandResult RunCopy(const CopyCommand& command, RestoreUserInterface&) override {
    SourceSeen = steps_.SourceRoot(command.VirtualLetter).has_value();
    const auto root = steps_.DestinationRoot();
    if (!root) return {kCopyNotStarted, false, false};
    FormattedArea = ReadHead(steps_.Target().Path, 8192);
    std::string store(4096, '\x11');
    Put(store, kReferenceAt, kImageStart, 8);
    Put(store, kReferenceAt + 24, kImageSignature, 4);
    fs::create_directories(*root + "/boot");
    fs::create_directories(*root + "/WINDOWS");
    std::ofstream(*root + "/boot/bcd", std::ios::binary) << store;
    std::ofstream(*root + "/WINDOWS/Bootstat.dat", std::ios::binary) << std::string(16, '\0');
    return {0, true, false};
  }
  int FixJunctionPoints(const std::string&, char) override { return 1; }

  bool SourceSeen = false;
  std::string FormattedArea;

 private:
  PosixRestoreSteps& steps_;
};

class RestoreStepsPosixTest : public testing::Test {
 protected:
  void SetUp() override { SKIP_WITHOUT_MOUNTS(); }

  std::optional<RestoreTarget> Target(const LoopDisk& disk) {
    std::string error;
    auto target = DescribeRestoreTarget(disk.Partition(), error);
    EXPECT_TRUE(target) << error;
    return target;
  }

  TempFolder folder_;
};

TEST_F(RestoreStepsPosixTest, FormatsCopiesAndMakesTheTargetBootableLeavingNothingMounted) {
  // The source's boot code is its own: no destination formatted here has it.
  const std::string volume = folder_.File("source.ntfs");
  ASSERT_EQ(Quietly("truncate -s 8M " + volume + " && mkntfs -F -Q -c 4096 -L SRC " + volume), 0);
  std::vector<uint8_t> source = ReadWholeFile(volume);
  std::fill(source.begin() + 100, source.begin() + 200, uint8_t{0xAB});
  std::fill(source.begin() + 1000, source.begin() + 1100, uint8_t{0xCD});
  WriteWholeFile(volume, source);
  WriterPartition partition;
  partition.SourcePath = volume;
  partition.Start = kImageStart;
  partition.Label = "System";
  ImageWriterOptions options;
  options.OutputPath = folder_.File("backup.qvimg");
  options.BlockSize = 16384;
  options.Disks = {{0, kImageSignature, 0, {partition}}};
  const std::vector<std::string> paths = WriteImage(options);
  std::vector<ImageSet> sets = LoadSets(paths);

  LoopDisk disk(folder_.File("disk.img"), 80, kMbrScript);
  ASSERT_TRUE(disk.Attached());
  const auto target = Target(disk);
  ASSERT_TRUE(target);
  YesUi ui;
  std::string runFolder;
  {
    PosixRestoreSteps posix(ui, *target);
    SystemFilesCopy copy(posix);
    RestoreSteps steps = posix.Steps(copy, copy);
    RestoreChoices choices;
    choices.Format = true;
    choices.Bootable = true;
    choices.RunCopy = true;
    choices = PosixTargetChoices(*target, choices);
    RestoreStatus status;
    const ImagePartition* selected = sets[0].CatalogueFiles[0]->Disks[0]->Partitions[0].get();
    ASSERT_EQ(RunRestore({paths.back(), sets, selected}, choices, status, steps), 1)
        << testing::PrintToString(ui.Messages);
    EXPECT_TRUE(copy.SourceSeen);
    EXPECT_EQ(ui.Questions, std::vector<std::string>{"All data on " + disk.Partition() +
                                                     " will be lost! Proceed with format?"});
    // The source's code around the destination's own parameter block (bytes 11 to 83).
    const std::string area = ReadHead(target->Path, 8192);
    const std::string code(source.begin(), source.begin() + 8192);
    ASSERT_EQ(copy.FormattedArea.size(), 8192u);
    EXPECT_EQ(area.substr(0, 11), code.substr(0, 11));
    EXPECT_EQ(area.substr(11, 73), copy.FormattedArea.substr(11, 73));
    EXPECT_EQ(area.substr(84), code.substr(84));
    EXPECT_EQ(Get(area, 28, 4), 2048u);
  }
  EXPECT_EQ(MountPointOfDevice(target->Device), std::nullopt);
  for (const MountedAt& mount : MountTable())
    EXPECT_FALSE(mount.Point.starts_with("/run/harvesta/")) << mount.Point;

  const std::string record = ReadHead(disk.Disk(), 512);
  EXPECT_EQ(Get(record, 440, 4), kImageSignature);
  EXPECT_EQ(uint8_t(record[446]), 0x80);

  // The repaired boot sector still mounts; the files were found whatever their case.
  DestinationMount after(*target, folder_.File("after"));
  const auto root = after.Root();
  ASSERT_TRUE(root);
  const std::string store = ReadHead(*root + "/boot/bcd", 4096);
  EXPECT_EQ(Get(store, kReferenceAt, 8), 2048u * 512);
  EXPECT_EQ(Get(store, kReferenceAt + 24, 4), kImageSignature);
  EXPECT_EQ(ReadHead(*root + "/WINDOWS/Bootstat.dat", 16)[11], '\x01');
}

TEST_F(RestoreStepsPosixTest, LeavesTheRecordOfAGuidPartitionTableAlone) {
  LoopDisk disk(folder_.File("gpt.img"), 40, kGptScript);
  ASSERT_TRUE(disk.Attached());
  const auto target = Target(disk);
  ASSERT_TRUE(target);
  const std::string before = ReadHead(disk.Disk(), 512);
  PosixMountedDrives drives(folder_.File("drives"));
  DestinationMount mount(*target, folder_.File("destination"));
  PosixBootUpdates boot(*target, mount, drives);
  const DestinationDisk found = boot.UpdateDiskRecord(kTargetLetter, kImageSignature, {true, true});
  EXPECT_EQ(found.PartitionOffset, 2048u * 512);
  EXPECT_FALSE(found.Record);
  EXPECT_FALSE(found.RecordWritten);
  EXPECT_EQ(ReadHead(disk.Disk(), 512), before);
}

}  // namespace
