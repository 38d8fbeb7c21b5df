// The targets `harvesta restore` refuses before it writes anything, one row each, on a real
// loop partition: mounted by ntfs-3g, holding the backup itself, standing for the running
// system's root, too big for FAT32, too small for what the partition uses.
#include "restore_refusals_posix.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "device_numbers_posix.h"
#include "image_fixtures.h"
#include "loop_disk.h"
#include "restore_steps_posix.h"

namespace {

namespace fs = std::filesystem;

constexpr char kMbrScript[] = "label: dos\\nlabel-id: 0x11223344\\nstart=2048, type=7\\n";

std::vector<std::string> WriteBackup(const TempFolder& folder, const std::string& at) {
  WriteWholeFile(folder.File("volume.raw"), MakeVolumeBytes(3 * 16384, 5));
  WriterPartition partition;
  partition.SourcePath = folder.File("volume.raw");
  ImageWriterOptions options;
  options.OutputPath = at;
  options.BlockSize = 16384;
  options.Disks = {{0, 0x11223344, 0, {partition}}};
  return WriteImage(options);
}

struct Case {
  RestoreTarget Target;
  TargetRequest Request;
  std::string Backup;         // where the image is written
  uint32_t UsedClusters = 0;  // of 4096 bytes
};

struct Row {
  const char* Name;
  std::function<void(Case&, const std::string& mounted)> Setup;
  std::string Refusal;  // empty: accepted; "<target>" and "<mounted>" stand for their paths
};

std::string Expand(std::string text, const std::string& target, const std::string& mounted) {
  for (const auto& [name, value] : {std::pair{"<target>", target}, {"<mounted>", mounted}})
    if (const size_t at = text.find(name); at != std::string::npos)
      text.replace(at, std::string(name).size(), value);
  return text;
}

TEST(RestoreRefusalsPosix, RefusesEachTargetThatWouldLoseDataBeforeAnythingIsWritten) {
  SKIP_WITHOUT_MOUNTS();
  TempFolder folder;
  LoopDisk disk(folder.File("disk.img"), 80, kMbrScript);
  ASSERT_TRUE(disk.Attached());
  std::string error;
  const auto partition = DescribeRestoreTarget(disk.Partition(), error);
  ASSERT_TRUE(partition) << error;
  const std::string mounted = fs::canonical(folder.Path()).string() + "/mounted";
  fs::create_directory(mounted);
  const std::optional<dev_t> root = FileSystemDeviceOf("/");
  ASSERT_TRUE(root);

  const std::vector<Row> rows = {
      {"an unmounted partition that holds the used space", [](Case&, auto&) {}, ""},
      {"a folder to format",
       [&](Case& c, auto&) {
         c.Target = *DescribeRestoreTarget(folder.Path().string(), error);
         c.Request.Format = true;
       },
       "--format needs a block device as TARGET; <target> is a folder"},
      {"a folder to make bootable",
       [&](Case& c, auto&) {
         c.Target = *DescribeRestoreTarget(folder.Path().string(), error);
         c.Request.Bootable = true;
       },
       "--bootable needs a block device as TARGET; <target> is a folder"},
      {"a folder may be copied into",
       [&](Case& c, auto&) { c.Target = *DescribeRestoreTarget(folder.Path().string(), error); },
       ""},
      {"the device of /", [&](Case& c, auto&) { c.Target.Device = *root; },
       "<target> holds the running system's root file system: choose another target"},
      {"mounted by somebody else",
       [](Case&, const std::string& at) { ASSERT_EQ(Quietly("ntfs-3g " + at), 0); },
       "<target> is mounted on <mounted>: unmount it first"},
      {"the disk of a mounted partition",
       [&](Case& c, const std::string& at) {
         ASSERT_EQ(Quietly("ntfs-3g " + at), 0);
         c.Target = *DescribeRestoreTarget(disk.Disk(), error);
       },
       "<target> is mounted on <mounted>: unmount it first"},
      {"holding a file of the backup",
       [&](Case& c, const std::string& at) {
         ASSERT_EQ(Quietly("ntfs-3g " + at), 0);
         c.Backup = mounted + "/backup.qvimg";
       },
       "<target> holds '<mounted>/backup.qvimg' of the backup being restored: choose another "
       "target"},
      {"FAT32 of exactly 32 GiB",
       [](Case& c, auto&) {
         c.Request = {true, true, false};
         c.Target.Size = uint64_t{32} << 30;
       },
       ""},
      {"FAT32 above 32 GiB",
       [](Case& c, auto&) {
         c.Request = {true, true, false};
         c.Target.Size = (uint64_t{32} << 30) + 1;
       },
       "The volume is too big for FAT32, please use NTFS."},
      {"smaller than the partition's used space",
       [](Case& c, auto&) { c.UsedClusters = 80 * 256 + 1; },
       "<target> has room for 79.00 MB, less than the 80.00 MB the partition uses"},
  };
  std::vector<Row> all = rows;
  // Only a root file system on a partition has a disk to refuse.
  if (const std::optional<dev_t> rootDisk = DiskOfPartition(*root))
    all.push_back({"the disk of /",
                   [&](Case& c, auto&) {
                     c.Target.Kind = TargetKind::WholeDisk;
                     c.Target.Device = *rootDisk;
                   },
                   "<target> is the disk of the running system's root file system: choose "
                   "another target"});
  for (const Row& row : all) {
    SCOPED_TRACE(row.Name);
    ASSERT_EQ(Quietly("mkntfs -F -Q -L DEST " + disk.Partition()), 0);
    Case c{*partition, {}, folder.File("backup.qvimg")};
    row.Setup(c, disk.Partition() + " " + mounted);
    std::vector<ImageSet> sets = LoadSets(WriteBackup(folder, c.Backup));
    ImagePartition& imaged = *sets[0].CatalogueFiles[0]->Disks[0]->Partitions[0];
    imaged.Volume.Counts = {0, 8, 512, 0, c.UsedClusters ? c.UsedClusters : 16, 0, 0, 16384};
    DestinationMount mount(c.Target, folder.File("destination"));
    PosixRestoreVolumes volumes(c.Target, mount);
    const auto refusal = RefuseRestoreTarget(c.Target, sets[0], imaged, c.Request, volumes);
    EXPECT_EQ(refusal.value_or(""), Expand(row.Refusal, c.Target.Path, mounted));
    sets.clear();
    Quietly("umount " + mounted);
  }
}

}  // namespace
