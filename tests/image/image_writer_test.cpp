// Images written in every shape load back with their fields, and every partition's bytes come
// back through its block index.
#include <gtest/gtest.h>

#include "image_fixtures.h"
#include "md5.h"
#include "mount_request.h"
#include "password.h"

namespace {
struct Shape {
  const char* Name;
  uint16_t Version;
  int32_t Compression;
  BlockMethod Method;
  const char* Password;
  uint16_t Cipher;
  uint64_t Split;
};

const Shape kShapes[] = {
    {"v6_plain", 6, 0, BlockMethod::Method1, "", 0, 0},
    {"v6_method1_high", 6, 2, BlockMethod::Method1, "", 0, 0},
    {"v5_byte_tokens_aes128", 5, 1, BlockMethod::ByteTokens, "secret password", 1, 0},
    {"v4_alternate_aes192_split", 4, 2, BlockMethod::Alternate, "pw", 2, 40000},
    {"v3_aes256_split", 3, 0, BlockMethod::Method1, "a much longer password of 40 characters", 3, 50000},
    {"v2_split_compressed", 2, 1, BlockMethod::Method1, "", 0, 30000},
    {"v1_plain", 1, 0, BlockMethod::Method1, "", 0, 0},
    {"v0_split_aes128", 0, 0, BlockMethod::Method1, "x", 1, 60000},
};

void PrintTo(const Shape& shape, std::ostream* out) { *out << shape.Name; }

class WriterShapes : public ::testing::TestWithParam<Shape> {
 protected:
  void SetUp() override {
    // Disk 0: a volume with a raw region and a length that is no whole number of blocks, and
    // one that is entirely zeros. Disk 1: one more volume.
    sources_ = {MakeVolumeBytes(100000, 1), std::vector<uint8_t>(40000, 0), MakeVolumeBytes(70000, 2)};
    for (size_t i = 0; i < sources_.size(); ++i)
      WriteWholeFile(folder_.File("p" + std::to_string(i) + ".raw"), sources_[i]);
    const Shape& shape = GetParam();
    options_.OutputPath = folder_.File("set.qvimg");
    options_.Version = shape.Version;
    options_.CompressionLevel = shape.Compression;
    options_.Method = shape.Method;
    options_.Password = shape.Password;
    options_.CipherType = shape.Cipher ? shape.Cipher : 3;
    options_.SplitSize = shape.Split;
    options_.BlockSize = 16384;
    options_.BackupNumber = 3;
    options_.BackupTime = 1700000000;
    WriterPartition first{folder_.File("p0.raw"), 0x07, {}, 'C', "System", 8192};
    first.FreeBytes = 20480;
    WriterPartition zeros{folder_.File("p1.raw"), 0x0B, {}, 0, ""};
    WriterPartition other{folder_.File("p2.raw"), 0x83, {}, 'E', "Data"};
    options_.Disks = {{0, 0x11223344, 2, {first, zeros}}, {1, 0x55667788, 0, {other}}};
    paths_ = WriteImage(options_);
  }

  TempFolder folder_;
  std::vector<std::vector<uint8_t>> sources_;
  ImageWriterOptions options_;
  std::vector<std::string> paths_;
};

TEST_P(WriterShapes, CatalogueLoadsWithWhatWasWritten) {
  const Shape& shape = GetParam();
  std::vector<ImageSet> sets = LoadSets(paths_);
  ASSERT_EQ(sets.size(), 1u);
  const ImageSet& set = sets[0];
  ASSERT_EQ(set.CatalogueFiles.size(), 1u);
  EXPECT_EQ(set.OtherFiles.size(), paths_.size() - 1);
  if (shape.Split) {
    EXPECT_GT(paths_.size(), 1u);
  }
  const CImageFile& image = *set.CatalogueFiles[0];
  EXPECT_EQ(image.FilePath, paths_.back());
  EXPECT_EQ(image.FileNumber, paths_.size() - 1);
  EXPECT_EQ(image.Version, shape.Version);
  EXPECT_EQ(image.BackupNumber, 3);
  EXPECT_EQ(image.BackupTime, 1700000000);
  EXPECT_EQ(image.CompressionLevel, shape.Compression);
  EXPECT_EQ(image.PasswordFlag, *shape.Password ? 1u : 0u);
  EXPECT_TRUE(AllFilesPresent(set, image));

  ASSERT_EQ(image.Disks.size(), 2u);
  const ImageDisk& disk0 = *image.Disks[0];
  EXPECT_EQ(disk0.Signature(), 0x11223344u);
  EXPECT_EQ(disk0.FirstTrack[510], 0x55);
  EXPECT_EQ(disk0.ExtendedBootRecords.size(), 2u);
  ASSERT_EQ(disk0.Partitions.size(), 2u);
  EXPECT_EQ(disk0.FirstTrack[446 + 4], 0x07);
  EXPECT_EQ(disk0.FirstTrack[446 + 16 + 4], 0x0B);
  EXPECT_EQ(image.Disks[1]->Number, 1);

  const ImagePartition& system = *disk0.Partitions[0];
  EXPECT_EQ(system.TypeByte(), 0x07);
  EXPECT_EQ(system.Volume.DriveLetter, 'C');
  EXPECT_EQ(system.Volume.Label, "System");
  EXPECT_EQ(system.Volume.VolumeLength(), 100000u);
  EXPECT_EQ(system.Volume.RawRegionLength(), 8192u);
  EXPECT_EQ(system.Volume.BlockSize(), 16384u);
  EXPECT_EQ(system.Volume.FreeSpace(), 20480u);
  EXPECT_EQ(system.Blocks.BlockCount, (100000u - 8192 + 16383) / 16384);
  // The zero volume stores nothing, so it needs no file.
  EXPECT_TRUE(disk0.Partitions[1]->Volume.FileRefs.empty());
}

TEST_P(WriterShapes, EveryPartitionReadsBackThroughItsIndex) {
  std::vector<ImageSet> sets = LoadSets(paths_);
  CImageFile& image = *sets[0].CatalogueFiles[0];
  image.Password = GetParam().Password;
  const ImagePartition* partitions[] = {image.Disks[0]->Partitions[0].get(),
                                        image.Disks[0]->Partitions[1].get(),
                                        image.Disks[1]->Partitions[0].get()};
  for (size_t i = 0; i < sources_.size(); ++i) {
    std::vector<uint8_t> back = ReadVolumeBack(sets[0], image, *partitions[i]);
    ASSERT_GE(back.size(), sources_[i].size());
    EXPECT_TRUE(std::equal(sources_[i].begin(), sources_[i].end(), back.begin())) << "partition " << i;
    // The last block is padded with zeros to a whole block.
    EXPECT_TRUE(std::all_of(back.begin() + sources_[i].size(), back.end(), [](uint8_t b) { return b == 0; }));
  }
}

TEST_P(WriterShapes, DigestsCoverTheCatalogueAndThePassword) {
  const Shape& shape = GetParam();
  std::vector<ImageSet> sets = LoadSets(paths_);
  const CImageFile& image = *sets[0].CatalogueFiles[0];
  if (*shape.Password) {
    EXPECT_TRUE(PasswordMatches(image.PasswordDigest, shape.Password));
    std::string wrongCase = shape.Password;
    wrongCase[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(wrongCase[0])));
    EXPECT_FALSE(PasswordMatches(image.PasswordDigest, wrongCase));
  }
  std::vector<uint8_t> source0(sources_[0].begin(), sources_[0].begin() + 8192);
  EXPECT_EQ(image.Disks[0]->Partitions[0]->Blocks.RawRegionDigest, Md5(source0.data(), source0.size()));
  if (shape.Version < 3) return;  // older catalogue digests are not meaningful
  for (const std::string& path : paths_) {
    std::vector<uint8_t> file = ReadWholeFile(path);
    size_t start = LoadImageFile(path)->CatalogueOffset;
    Digest stored;
    std::copy(file.end() - 16, file.end(), stored.begin());
    EXPECT_EQ(Md5(file.data() + start, file.size() - 16 - start), stored) << path;
  }
}

TEST_P(WriterShapes, MountValuesNameTheFilesOfThePartition) {
  std::vector<ImageSet> sets = LoadSets(paths_);
  const ImageSet& set = sets[0];
  const CImageFile& image = *set.CatalogueFiles[0];
  const ImagePartition& system = *image.Disks[0]->Partitions[0];
  MountValues values = MakeMountValues(set, image, system);
  EXPECT_EQ(values.FormatVersion, GetParam().Version);
  EXPECT_EQ(values.DiskLength, 100000u);
  EXPECT_EQ(values.SectorSizeUnits, 1u);
  EXPECT_EQ(values.RawRegionLength, 8192u);
  EXPECT_EQ(values.IndexOffset, system.Blocks.IndexOffset);
  EXPECT_EQ(values.FileCount, paths_.size());
  ASSERT_FALSE(values.Files.empty());
  EXPECT_EQ(values.Files.back().Number, image.FileNumber);  // the catalogue file is always listed
  for (const MountFile& file : values.Files) EXPECT_EQ(file.Path, paths_[file.Number]);
}

INSTANTIATE_TEST_SUITE_P(Image, WriterShapes, ::testing::ValuesIn(kShapes),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(ImageWriter, OldVersionsStoreOnlyTheMasterBootRecord) {
  TempFolder folder;
  WriteWholeFile(folder.File("p.raw"), MakeVolumeBytes(5000, 3));
  for (uint16_t version : {0, 1, 2}) {
    ImageWriterOptions options;
    options.OutputPath = folder.File("v.qvimg");
    options.Version = version;
    WriterPartition partition;
    partition.SourcePath = folder.File("p.raw");
    options.Disks = {{0, 1, 0, {partition}}};
    WriteImage(options);
    auto image = LoadImageFile(options.OutputPath);
    const auto& track = image->Disks[0]->FirstTrack;
    EXPECT_EQ(track[511], 0xAA);
    bool restZero = std::all_of(track.begin() + 512, track.end(), [](uint8_t b) { return b == 0; });
    EXPECT_TRUE(restZero);
  }
}

TEST(ImageWriter, RefusesWhatNoReaderAccepts) {
  TempFolder folder;
  WriteWholeFile(folder.File("p.raw"), MakeVolumeBytes(5000, 3));
  WriterPartition partition;
  partition.SourcePath = folder.File("p.raw");
  ImageWriterOptions base;
  base.OutputPath = folder.File("x.qvimg");
  base.Disks = {{0, 1, 0, {partition}}};
  std::vector<std::function<void(ImageWriterOptions&)>> faults = {
      [](auto& o) { o.Version = 7; },
      [](auto& o) { o.CompressionLevel = 3; },
      [](auto& o) { o.BlockSize = 1000; },
      [](auto& o) { o.Password = "p"; o.CipherType = 4; },
      [](auto& o) { o.Disks[0].Partitions[0].RawRegionLength = 5001; },
      [](auto& o) { o.Disks[0].Partitions[0].SourcePath += ".missing"; },
      [](auto& o) { o.FileBackup = true; },  // not a FAT32 volume
      [](auto& o) { o.Disks.assign(11, o.Disks[0]); },
  };
  for (size_t i = 0; i < faults.size(); ++i) {
    ImageWriterOptions options = base;
    faults[i](options);
    EXPECT_THROW(WriteImage(options), ImageWriterError) << "fault " << i;
  }
}

// A minimal FAT32 boot sector: 512-byte sectors, 32 reserved, 2 tables of 16 sectors.
std::vector<uint8_t> MakeFat32Volume(size_t length) {
  std::vector<uint8_t> volume = MakeVolumeBytes(length, 5);
  std::fill_n(volume.begin(), 512, 0);
  volume[11] = 0x00, volume[12] = 0x02;  // bytes per sector
  volume[13] = 128;                      // 64 KiB clusters
  volume[14] = 32;                       // reserved sectors
  volume[16] = 2;                        // tables
  volume[36] = 16;                       // sectors per table
  volume[510] = 0x55, volume[511] = 0xAA;
  return volume;
}

TEST(ImageWriter, FileBackupHoldsOneFat32VolumeWithItsBootAreaRaw) {
  TempFolder folder;
  std::vector<uint8_t> volume = MakeFat32Volume(300000);
  WriteWholeFile(folder.File("fat.raw"), volume);
  ImageWriterOptions options;
  options.OutputPath = folder.File("files.qvbak");
  options.FileBackup = true;
  WriterPartition partition;
  partition.SourcePath = folder.File("fat.raw");
  options.Disks = {{0, 1, 0, {partition}}};
  WriteImage(options);
  std::vector<ImageSet> sets = LoadSets({options.OutputPath});
  const CImageFile& image = *sets[0].CatalogueFiles[0];
  EXPECT_EQ(image.FileBackup, 1u);
  const ImagePartition& fat = *image.Disks[0]->Partitions[0];
  EXPECT_EQ(fat.TypeByte(), 0x0C);
  EXPECT_EQ(fat.Volume.RawRegionLength(), (32u + 2 * 16) * 512);
  EXPECT_EQ(fat.Volume.BlockSize(), 65536u);
  std::vector<uint8_t> back = ReadVolumeBack(sets[0], image, fat);
  EXPECT_TRUE(std::equal(volume.begin(), volume.end(), back.begin()));
}
}  // namespace
