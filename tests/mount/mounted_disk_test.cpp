// A partition served from its image files gives the volume's bytes for any request, whether
// they are read verbatim from a file or decoded, and a missing part of a file is an error,
// never zeros or other bytes.
#include "mounted_disk.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "image_fixtures.h"
#include "mount_record_build.h"
#include "mount_values.h"

namespace {

constexpr uint32_t kBlockSize = 16384;
constexpr uint64_t kRawLength = 8192;

struct Written {
  std::vector<uint8_t> Source;
  std::vector<std::string> Paths;
};

// One partition with a raw region, zero stretches and a last block that is not whole, split
// over several files.
Written WriteSplitImage(const TempFolder& folder, int32_t compression) {
  Written written{MakeVolumeBytes(300000, 5), {}};
  WriteWholeFile(folder.File("volume.raw"), written.Source);
  ImageWriterOptions options;
  options.OutputPath = folder.File("set.qvimg");
  options.Version = 6;
  options.CompressionLevel = compression;
  options.SplitSize = 70000;
  options.BlockSize = kBlockSize;
  options.BackupTime = 1700000000;
  WriterPartition partition{folder.File("volume.raw"), 0x07, {}, 'C', "System", kRawLength};
  options.Disks = {{0, 0x11223344, 0, {partition}}};
  written.Paths = WriteImage(options);
  return written;
}

std::vector<uint8_t> RecordFor(const std::vector<std::string>& paths) {
  std::vector<ImageSet> sets = LoadSets(paths);
  const CImageFile& image = *sets[0].CatalogueFiles[0];
  std::string error;
  auto record = BuildMountRecord(MakeMountValues(sets[0], image, *image.Disks[0]->Partitions[0]), &error);
  EXPECT_TRUE(record.has_value()) << error;
  return record.value_or(std::vector<uint8_t>{});
}

class MountedDiskShapes : public ::testing::TestWithParam<int32_t> {};

TEST_P(MountedDiskShapes, EveryRequestGivesTheVolumeBytes) {
  TempFolder folder;
  Written written = WriteSplitImage(folder, GetParam());
  ASSERT_GT(written.Paths.size(), 2u);
  MountedDisk disk(RecordFor(written.Paths), {.DecodeThreads = 2});
  const uint64_t size = written.Source.size();
  ASSERT_EQ(disk.Size(), size);
  // Requests across the raw region's end, block ends and file ends, and the whole volume.
  std::vector<std::pair<uint64_t, uint32_t>> requests = {
      {0, uint32_t(size)}, {kRawLength - 100, 300}, {kRawLength + kBlockSize - 1, 2},
      {size - 5000, 5000}, {69000, 4000}, {0, 1}};
  for (uint64_t offset = 0; offset < size; offset += 12345)
    requests.push_back({offset, uint32_t(std::min<uint64_t>(40000, size - offset))});
  for (auto [offset, length] : requests) {
    std::vector<uint8_t> bytes(length, 0xEE);
    ASSERT_EQ(disk.Read(offset, length, bytes.data()), kReadOk) << offset << " +" << length;
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), written.Source.begin() + offset))
        << offset << " +" << length;
  }
  uint8_t byte;
  EXPECT_EQ(disk.Read(size, 1, &byte), kReadBadRequest);
}

INSTANTIATE_TEST_SUITE_P(Mount, MountedDiskShapes, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param ? "compressed" : "uncompressed"; });

TEST(MountedDisk, BlocksBeyondATruncatedFileFailInsteadOfReadingShort) {
  TempFolder folder;
  Written written = WriteSplitImage(folder, 0);
  ASSERT_GT(written.Paths.size(), 2u);
  std::vector<uint8_t> record = RecordFor(written.Paths);
  std::filesystem::resize_file(written.Paths[1], std::filesystem::file_size(written.Paths[1]) / 2);
  MountedDisk disk(record);
  uint32_t failed = 0;
  for (uint64_t offset = 0; offset < disk.Size(); offset += 4096) {
    const uint32_t length = uint32_t(std::min<uint64_t>(4096, disk.Size() - offset));
    std::vector<uint8_t> bytes(length);
    StoredExtent extent;
    ASSERT_EQ(disk.Extent(offset, length, &extent) == kReadOk, disk.Read(offset, length, bytes.data()) == kReadOk)
        << offset;
    if (disk.Read(offset, length, bytes.data()) != kReadOk) {
      ++failed;
      continue;
    }
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), written.Source.begin() + offset)) << offset;
  }
  EXPECT_GT(failed, 0u);
}

}  // namespace
