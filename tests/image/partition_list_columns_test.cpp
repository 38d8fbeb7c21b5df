#include <gtest/gtest.h>

#include "partition_list_columns.h"
#include "text_helpers.h"

namespace {
TEST(PartitionColumns, LocationCompressionAndFileSystemTexts) {
  VolumeInfo volume;
  EXPECT_EQ(OriginalLocationText(volume), "<No Name>");
  volume.DriveLetter = 'D';
  EXPECT_EQ(OriginalLocationText(volume), "<No Name> (D:)");
  volume.Label = "Data";
  EXPECT_EQ(OriginalLocationText(volume), "Data (D:)");
  EXPECT_EQ(CompressionText(0), "None");
  EXPECT_EQ(CompressionText(2), "High");
  EXPECT_EQ(CompressionText(7), "7");
  EXPECT_EQ(PartitionFileSystemText(0x0C), "FAT32 (LBA)");
}

TEST(PartitionColumns, RowTextsComeFromTheImageAndItsVolume) {
  CImageFile image;
  image.Id = {0xDE, 0xAD, 0xBE, 0xEF, 0, 1, 2, 3};
  image.CompressionLevel = 1;
  image.FullCopy = 1;
  ImagePartition partition;
  partition.TableEntry[4] = 0x07;
  partition.Volume.Counts = {0, 8, 512, 100, 1024, 0, 0, 65536};
  partition.Volume.FileRefs = {{0, "", 0}, {1, "", 0}};
  auto texts = PartitionColumnTexts({&image, &partition});
  EXPECT_EQ(texts[2], "DEADBEEF00010203");
  EXPECT_EQ(texts[3], "4.00 MB");    // 1024 clusters of 4 KiB
  EXPECT_EQ(texts[4], "3.61 MB");    // 924 clusters
  EXPECT_EQ(texts[5], "400 KB");
  EXPECT_EQ(texts[6], "    NTFS");
  EXPECT_EQ(texts[7], "Medium");
  EXPECT_EQ(texts[8], "2");
  EXPECT_EQ(texts[9], "No");

  partition.Volume.Counts[3] = 2000;  // more free than total: no wrapped used space
  EXPECT_EQ(PartitionColumnTexts({&image, &partition})[4], "0 B");
}

TEST(PartitionColumns, CapacityIsASixtyFourBitProductThatSaturates) {
  struct Case {
    uint32_t TotalClusters, SectorsPerCluster, BytesPerSector;
    uint64_t Capacity;
  } cases[] = {
      {1u << 24, 8, 512, uint64_t{1} << 36},  // 64 GiB: 2^36 wraps to 0 in 32 bits
      {0xFFFFFFFF, 0xFFFFFFFF, 1, 0xFFFFFFFE00000001},
      {0xFFFFFFFF, 0xFFFFFFFF, 2, UINT64_MAX},
      {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, UINT64_MAX},
  };
  for (const Case& c : cases) {
    VolumeInfo volume;
    volume.Counts = {0, c.SectorsPerCluster, c.BytesPerSector, c.TotalClusters, c.TotalClusters};
    EXPECT_EQ(volume.Capacity(), c.Capacity) << c.TotalClusters << " x " << c.BytesPerSector;
    EXPECT_EQ(volume.FreeSpace(), c.Capacity);
  }
}
}  // namespace
