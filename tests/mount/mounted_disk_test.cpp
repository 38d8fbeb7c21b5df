// A partition served from its image files gives the volume's bytes for any request, in every
// shape the writer makes, whether they are read verbatim from a file or decoded, and a missing
// part of a file is an error, never zeros or other bytes.
#include "mounted_disk.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "mount_fixtures.h"
#include "mount_record.h"
#include "mount_record_build.h"

namespace {

constexpr uint32_t kBlockSize = 16384;

std::shared_ptr<DecodePool> TwoThreads() {
  return std::make_shared<DecodePool>(DecodePoolOptions{2, 0, 64u << 20});
}

// The core's own reader over the files a record names: what MountedDisk must agree with.
struct CoreReader {
  ParsedMountRecord Parsed{};
  std::vector<int> Files;
  std::vector<std::string> Paths;
  std::vector<uint8_t> Work;
  BlockReader State{};

  explicit CoreReader(const std::vector<uint8_t>& record) {
    EXPECT_TRUE(ParseMountRecord(record.data(), uint32_t(record.size()), &Parsed));
    Files.assign(Parsed.Layout.FileCount, -1);
    Paths.resize(Parsed.Layout.FileCount);
    MountFileCursor cursor = FirstMountFile(&Parsed);
    MountFileEntry entry;
    while (NextMountFile(&cursor, &entry)) {
      Paths[entry.Slot] = Win32PathFromNtPath({entry.Path, entry.PathLength});
      Files[entry.Slot] = open(Paths[entry.Slot].c_str(), O_RDONLY | O_CLOEXEC);
    }
    Work.resize(BlockReaderWorkSize(&Parsed.Layout, 4));
    EXPECT_TRUE(InitBlockReader(&State, &Parsed.Layout, Parsed.Key, {ReadAt, this}, Work.data(), Work.size(), 4));
  }
  ~CoreReader() {
    for (int fd : Files) if (fd >= 0) close(fd);
  }
  static bool ReadAt(void* context, uint32_t slot, uint64_t offset, uint8_t* buffer, uint32_t length,
                     uint32_t* bytesRead) {
    const auto& reader = *static_cast<CoreReader*>(context);
    *bytesRead = 0;
    if (slot >= reader.Files.size() || reader.Files[slot] < 0) return false;
    const ssize_t n = pread(reader.Files[slot], buffer, length, off_t(offset));
    if (n < 0) return false;
    *bytesRead = uint32_t(n);
    return true;
  }
  ReadStatus Read(uint64_t offset, uint32_t length, uint8_t* destination, ReadFailure* failure) {
    return ReadVirtualDisk(&State, offset, length, destination, failure);
  }
};

// Every request of a set that crosses the raw region's end, block ends and file ends, and the
// whole volume, gives the volume's bytes.
void ExpectEveryRequestGivesTheVolume(MountedDisk& disk, const std::vector<uint8_t>& source,
                                      uint64_t rawLength, CoreReader* core = nullptr) {
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
    if (!core) continue;
    std::vector<uint8_t> coreBytes(length, 0x11);
    ASSERT_EQ(core->Read(offset, length, coreBytes.data(), nullptr), kReadOk) << offset << " +" << length;
    EXPECT_EQ(coreBytes, bytes) << offset << " +" << length;
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
  CoreReader core(RecordFor(written));
  MountedDisk disk(RecordFor(written), {.CheckDigests = true, .Pool = TwoThreads()});
  ExpectEveryRequestGivesTheVolume(disk, written.Source, shape.RawLength, &core);
}

// Damage the disk and the core both find: they fail at the same block and file, and serve the
// same bytes before it.
enum class Damage { EntryLengthTooLong, FileEndsInsideBlock };

// Returns the slot of the block's file.
uint32_t Inflict(Damage damage, CoreReader& core, uint32_t block) {
  const VirtualDiskLayout& layout = core.Parsed.Layout;
  BlockLocation location{};
  EXPECT_EQ(LocateBlock(&core.State, block, &location), kReadOk);
  EXPECT_NE(location.StoredLength, 0u);
  if (damage == Damage::FileEndsInsideBlock) {
    std::filesystem::resize_file(core.Paths[location.Slot], location.FileOffset + 1);
    return location.Slot;
  }
  const std::string& indexFile = core.Paths[layout.FileCount - 1u];
  std::vector<uint8_t> bytes = ReadWholeFile(indexFile);
  const uint64_t lengthWord = layout.IndexOffset + uint64_t(block) * IndexEntrySize(&layout) +
                              (layout.FormatVersion < kFirstVersionWithEntryDigests ? 8 : 24);
  const uint32_t tooLong = 2 * layout.BlockSize + 16;
  std::memcpy(bytes.data() + lengthWord, &tooLong, 3);
  WriteWholeFile(indexFile, bytes);
  return location.Slot;
}

struct DamageCase {
  const char* Name;
  Damage Kind;
  ReadStatus Status;
};

class MountedDiskDamage : public ::testing::TestWithParam<std::tuple<ImageShape, DamageCase>> {};

TEST_P(MountedDiskDamage, FailsWhereTheCoreFails) {
  TempFolder folder;
  const auto& [shape, damage] = GetParam();
  WrittenImage written = WriteShape(folder, shape);
  const std::vector<uint8_t> record = RecordFor(written);
  constexpr uint32_t kDamagedBlock = 6;  // block 4 is zeros: not stored
  uint32_t damagedSlot = 0;
  {
    CoreReader before(record);
    damagedSlot = Inflict(damage.Kind, before, kDamagedBlock);
  }
  CoreReader core(record);
  const uint64_t damagedAt = shape.RawLength + uint64_t(kDamagedBlock) * shape.BlockSize;
  // A file cut inside the block with the index in it takes the index along: no block locates.
  const uint32_t indexSlot = core.Parsed.Layout.FileCount - 1u;
  std::vector<uint8_t> coreBytes(written.Source.size()), diskBytes(written.Source.size());
  ReadFailure coreFailure{}, diskFailure{};
  const ReadStatus coreStatus = core.Read(0, uint32_t(coreBytes.size()), coreBytes.data(), &coreFailure);
  ASSERT_EQ(coreStatus, damage.Status);
  const bool indexLost = damage.Kind == Damage::FileEndsInsideBlock && damagedSlot == indexSlot;
  EXPECT_EQ(coreFailure.Block, indexLost ? 0 : kDamagedBlock);
  EXPECT_EQ(coreFailure.Slot, indexLost ? indexSlot : damagedSlot);
  EXPECT_EQ(coreFailure.Offset, indexLost ? shape.RawLength : damagedAt);
  for (const bool checkDigests : {true, false}) {
    MountedDisk disk(record, {.CheckDigests = checkDigests, .Pool = TwoThreads()});
    EXPECT_EQ(disk.Read(0, uint32_t(diskBytes.size()), diskBytes.data(), &diskFailure), coreStatus);
    EXPECT_EQ(diskFailure.Block, coreFailure.Block);
    EXPECT_EQ(diskFailure.Slot, coreFailure.Slot);
    EXPECT_EQ(diskFailure.Offset, coreFailure.Offset);
    EXPECT_TRUE(std::equal(diskBytes.begin(), diskBytes.begin() + coreFailure.Offset, written.Source.begin()));
    EXPECT_NE(disk.FailureText(diskFailure).find("block " + std::to_string(coreFailure.Block)), std::string::npos)
        << disk.FailureText(diskFailure);
  }
}

const DamageCase kDamages[] = {
    {"entry_length_too_long", Damage::EntryLengthTooLong, kReadDataError},
    {"file_ends_inside_block", Damage::FileEndsInsideBlock, kReadFileFailed},
};

INSTANTIATE_TEST_SUITE_P(Mount, MountedDiskDamage, ::testing::Combine(::testing::ValuesIn(kShapes), ::testing::ValuesIn(kDamages)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).Name) + "_" + std::get<1>(info.param).Name;
                         });

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
