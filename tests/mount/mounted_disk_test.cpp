// A partition served from its image files gives the volume's bytes for any request, in every
// shape the writer makes, whether they are read verbatim from a file or decoded, and a missing
// part of a file is an error, never zeros or other bytes.
#include "mounted_disk.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <cstring>
#include <vector>

#include "mount_fixtures.h"

namespace {

constexpr uint32_t kBlockSize = 16384;

std::shared_ptr<DecodePool> TwoThreads() {
  return std::make_shared<DecodePool>(DecodePoolOptions{2, 0, 64u << 20});
}

// Every request of a set that crosses the raw region's end, block ends and file ends, and the
// whole volume, gives the volume's bytes.
void ExpectEveryRequestGivesTheVolume(MountedDisk& disk, const std::vector<uint8_t>& source,
                                      uint64_t rawLength) {
  const uint64_t size = source.size();
  ASSERT_EQ(disk.Size(), size);
  std::vector<std::pair<uint64_t, uint32_t>> requests = {
      {0, uint32_t(size)}, {rawLength + kBlockSize - 1, 2}, {size - 5000, 5000}, {69000, 4000}, {0, 1}};
  if (rawLength > 100) requests.push_back({rawLength - 100, 300});
  for (uint64_t offset = 0; offset < size; offset += 12345)
    requests.push_back({offset, uint32_t(std::min<uint64_t>(40000, size - offset))});
  for (auto [offset, length] : requests) {
    std::vector<uint8_t> bytes(length, 0xEE);
    ASSERT_EQ(disk.Read(offset, length, bytes.data()), kReadOk) << offset << " +" << length;
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), source.begin() + offset)) << offset << " +" << length;
  }
  uint8_t byte;
  EXPECT_EQ(disk.Read(size, 1, &byte), kReadBadRequest);
}

const ImageShape kShapes[] = {
    {.Name = "stored_split_raw", .SplitSize = 70000, .RawLength = 8192},
    {.Name = "method1_split_raw", .Compression = 1, .SplitSize = 70000, .RawLength = 8192},
    {.Name = "byte_tokens", .Compression = 1, .Method = BlockMethod::ByteTokens, .RawLength = 8192},
    {.Name = "alternate_methods", .Compression = 2, .Method = BlockMethod::Alternate, .SplitSize = 50000},
    {.Name = "aes128_stored", .Cipher = 1, .SplitSize = 70000, .RawLength = 8192},
    {.Name = "aes192_method1", .Compression = 1, .Cipher = 2, .RawLength = 4096},
    {.Name = "aes256_byte_tokens", .Compression = 1, .Method = BlockMethod::ByteTokens, .Cipher = 3,
     .SplitSize = 50000},
    // The block area ends exactly on a block boundary: the last block is whole.
    {.Name = "stored_whole_last_block", .RawLength = 8192, .VolumeLength = 8192 + 18 * kBlockSize},
    {.Name = "method1_whole_last_block", .Compression = 1, .VolumeLength = 18 * kBlockSize},
    {.Name = "raw_region_over_blocks", .RawLength = 3 * kBlockSize + 777, .VolumeLength = 200000},
    {.Name = "version2_stored", .SplitSize = 70000, .RawLength = 8192, .Version = 2},
};

class MountedDiskShapes : public ::testing::TestWithParam<ImageShape> {};

TEST_P(MountedDiskShapes, EveryRequestGivesTheVolumeBytes) {
  TempFolder folder;
  const ImageShape& shape = GetParam();
  WrittenImage written = WriteShape(folder, shape);
  if (shape.SplitSize) {
    ASSERT_GT(written.Paths.size(), 2u);
  }
  MountedDisk disk(RecordFor(written), {.CheckDigests = true, .Pool = TwoThreads()});
  ExpectEveryRequestGivesTheVolume(disk, written.Source, shape.RawLength);
}

INSTANTIATE_TEST_SUITE_P(Mount, MountedDiskShapes, ::testing::ValuesIn(kShapes),
                         [](const auto& info) { return std::string(info.param.Name); });

// The verbatim path must follow the index, not assume that block i + 1 follows block i.
TEST(MountedDisk, BlocksStoredOutOfOrderReadEqual) {
  TempFolder folder;
  const ImageShape shape{.Name = "stored", .RawLength = 8192};
  WrittenImage written = WriteShape(folder, shape);
  ASSERT_EQ(written.Paths.size(), 1u);
  std::vector<uint8_t> file = ReadWholeFile(written.Paths[0]);
  std::vector<ImageSet> sets = LoadSets(written.Paths);
  const CPartitionBlocks& blocks = sets[0].CatalogueFiles[0]->Disks[0]->Partitions[0]->Blocks;
  // Blocks 2 and 3: neither zeros nor the short last block (entries of 30 bytes, offset first).
  uint8_t* first = file.data() + blocks.IndexOffset + 2 * 30;
  uint8_t* second = first + 30;
  uint64_t firstOffset, secondOffset;
  std::memcpy(&firstOffset, first, 8);
  std::memcpy(&secondOffset, second, 8);
  ASSERT_EQ(secondOffset, firstOffset + kBlockSize);
  std::swap_ranges(file.begin() + firstOffset, file.begin() + firstOffset + kBlockSize, file.begin() + secondOffset);
  std::swap_ranges(first, first + 8, second);
  WriteWholeFile(written.Paths[0], file);
  MountedDisk disk(RecordFor(written), {.CheckDigests = true, .Pool = TwoThreads()});
  ExpectEveryRequestGivesTheVolume(disk, written.Source, shape.RawLength);
}

TEST(MountedDisk, BlocksBeyondATruncatedFileFailInsteadOfReadingShort) {
  TempFolder folder;
  WrittenImage written = WriteShape(folder, {.Name = "stored", .SplitSize = 70000, .RawLength = 8192});
  ASSERT_GT(written.Paths.size(), 2u);
  std::vector<uint8_t> record = RecordFor(written);
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
