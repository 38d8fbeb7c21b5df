// The Linux restore target on real parts: a loop disk with an MBR table from sfdisk, described
// from sysfs, formatted by mkntfs and mkfs.vfat through the volume step, mounted on demand by
// ntfs-3g, and never touched while somebody else has it mounted.
#include "restore_target_posix.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "device_numbers_posix.h"
#include "image_fixtures.h"
#include "loop_disk.h"
#include "restore_steps_posix.h"

namespace {

namespace fs = std::filesystem;

constexpr char kMbrScript[] = "label: dos\\nlabel-id: 0x11223344\\nstart=2048, type=7\\n";
constexpr uint64_t kPartitionBytes = 79ull << 20;

uint32_t Little32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

class RestoreTargetTest : public testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_MOUNTS();
    disk_ = std::make_unique<LoopDisk>(folder_.File("disk.img"), 80, kMbrScript);
    ASSERT_TRUE(disk_->Attached());
    std::string error;
    auto target = DescribeRestoreTarget(disk_->Partition(), error);
    ASSERT_TRUE(target) << error;
    target_ = *target;
    mount_ = std::make_unique<DestinationMount>(target_, folder_.File("destination"));
    volumes_ = std::make_unique<PosixRestoreVolumes>(target_, *mount_);
  }
  void TearDown() override {
    volumes_.reset();
    mount_.reset();
    disk_.reset();
  }

  TempFolder folder_;
  std::unique_ptr<LoopDisk> disk_;
  RestoreTarget target_;
  std::unique_ptr<DestinationMount> mount_;
  std::unique_ptr<PosixRestoreVolumes> volumes_;
};

TEST_F(RestoreTargetTest, DescribesPartitionDiskAndFolderFromTheKernel) {
  EXPECT_EQ(target_.Kind, TargetKind::Partition);
  EXPECT_EQ(target_.DiskPath, disk_->Disk());
  EXPECT_EQ(target_.PartitionOffset, 2048u * 512);
  EXPECT_EQ(target_.LogicalBlockSize, 512u);
  EXPECT_EQ(target_.Size, kPartitionBytes);
  std::string error;
  const auto whole = DescribeRestoreTarget(disk_->Disk(), error);
  ASSERT_TRUE(whole) << error;
  EXPECT_EQ(whole->Kind, TargetKind::WholeDisk);
  EXPECT_EQ(whole->Size, 80ull << 20);
  EXPECT_EQ(DiskOfPartition(target_.Device), whole->Device);
  EXPECT_EQ(DiskOfPartition(whole->Device), std::nullopt);

  const auto folder = DescribeRestoreTarget(folder_.Path().string() + "/.", error);
  ASSERT_TRUE(folder) << error;
  EXPECT_EQ(folder->Kind, TargetKind::Folder);
  EXPECT_EQ(folder->Path, fs::canonical(folder_.Path()).string());

  EXPECT_FALSE(DescribeRestoreTarget(folder_.File("disk.img"), error));
  EXPECT_EQ(error, fs::canonical(folder_.File("disk.img")).string() +
                       " is neither a block device nor a folder");
  EXPECT_FALSE(DescribeRestoreTarget(folder_.File("missing"), error));
}

struct FormatRow {
  const char* FileSystem;
  uint32_t ClusterSize;
  const char* Label;
  size_t LabelAt;  // in the boot sector; 0: ask ntfslabel
};

// Hidden sectors are the partition's start for both, or Windows would not boot from them.
TEST_F(RestoreTargetTest, FormatsWithTheStartAsHiddenSectorsTheClusterAndTheLabel) {
  const FormatRow rows[] = {{"NTFS", 4096, "SYSVOL", 0}, {"FAT32", 1024, "FATVOL", 71}};
  for (const FormatRow& row : rows) {
    SCOPED_TRACE(row.FileSystem);
    ASSERT_EQ(volumes_->FormatVolume(target_.Path, row.Label, row.FileSystem, row.ClusterSize), 1);
    const std::string sector = ReadHead(target_.Path, 512);
    ASSERT_EQ(sector.size(), 512u);
    EXPECT_EQ(Little32(sector, 28), 2048u);
    EXPECT_EQ(uint8_t(sector[13]), row.ClusterSize / 512);
    if (row.LabelAt) {
      EXPECT_EQ(sector.substr(row.LabelAt, 11), std::string(row.Label) + "     ");
      EXPECT_EQ(Quietly("fsck.vfat -n " + target_.Path), 0);
    } else {
      EXPECT_EQ(Quietly("ntfslabel " + target_.Path + " | grep -qx " + row.Label), 0);
    }
  }
  // No vfat in this kernel: the FAT32 destination cannot be mounted, and says why.
  std::string error;
  EXPECT_EQ(mount_->Root(&error), std::nullopt);
  EXPECT_NE(error.find("vfat"), std::string::npos) << error;
  EXPECT_EQ(volumes_->FormatVolume(target_.Path, "X", "exFAT", 4096), 0);
}

TEST_F(RestoreTargetTest, MountsOnDemandAndFormatsOnlyWhenNobodyElseHasItMounted) {
  ASSERT_EQ(volumes_->FormatVolume(target_.Path, "OURS", "NTFS", 4096), 1);
  const auto root = mount_->Root();
  ASSERT_TRUE(root);
  EXPECT_EQ(MountPointOfDevice(target_.Device), *root);
  EXPECT_EQ(volumes_->VolumeOfPath(*root), volumes_->VolumeOfPath(TargetRoot()));
  // Our own mount goes for the format.
  EXPECT_EQ(volumes_->LockAndDismountVolume("\\\\.\\T:", false), kVolumeDismounted);
  EXPECT_FALSE(MountPointOfDevice(target_.Device));

  const std::string theirs = folder_.File("theirs");
  fs::create_directory(theirs);
  ASSERT_EQ(Quietly("ntfs-3g " + target_.Path + " " + theirs), 0);
  EXPECT_EQ(volumes_->LockAndDismountVolume("\\\\.\\T:", false), kVolumeInUse);
  EXPECT_EQ(volumes_->LockAndDismountVolume("\\\\.\\T:", true), kVolumeDismountFailed);
  EXPECT_EQ(volumes_->FormatVolume(target_.Path, "MINE", "NTFS", 4096), 0);
  EXPECT_EQ(MountPointOfDevice(target_.Device), fs::canonical(theirs).string());
  EXPECT_EQ(Quietly("umount " + theirs), 0);
}

}  // namespace
