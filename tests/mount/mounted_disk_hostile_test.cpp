// Images crafted to break the mounted disk: damaged stored blocks, a disk length past 2^32
// blocks, many partitions with large blocks, and a key that must not outlive the mount.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "heap_watch.h"
#include "mount_fixtures.h"
#include "mount_record.h"
#include "mounted_disk.h"

namespace {

constexpr uint32_t kBlockSize = 16384;

std::shared_ptr<DecodePool> TwoThreads(uint64_t cacheBytes = 64u << 20) {
  return std::make_shared<DecodePool>(DecodePoolOptions{2, 0, cacheBytes});
}

uint64_t BlockStart(const MountedDisk& disk, uint64_t block) {
  return disk.Layout().RawLength + block * disk.Layout().BlockSize;
}

// --- A damaged block is a read error, never wrong bytes -----------------------------------

enum class Damage { StoredByte, ZeroBlockDigest };

struct DamageCase {
  const char* Name;
  ImageShape Shape;
  Damage Kind;
  bool Detected;  // false: the index carries no digest to check against
};

// Of the blocks that are stored (or, for a digest, not stored), the one with the longest stored
// form: for a compressed image, a block of random bytes that method 1 keeps as they are.
uint32_t PickBlock(MountedDisk& disk, Damage kind, BlockLocation* location) {
  uint32_t best = UINT32_MAX;
  for (uint32_t block = 0; block < disk.Layout().BlockCount; ++block) {
    std::vector<uint8_t> data;
    BlockLocation at;
    EXPECT_EQ(disk.ReadBlock(block, data, &at), kReadOk);
    const bool fits = kind == Damage::ZeroBlockDigest ? at.StoredLength == 0 : at.StoredLength != 0;
    if (fits && (best == UINT32_MAX || at.StoredLength > location->StoredLength)) {
      best = block;
      *location = at;
    }
  }
  EXPECT_NE(best, UINT32_MAX);
  return best;
}

void Corrupt(const WrittenImage& image, const std::string& path, uint64_t offset) {
  std::vector<uint8_t> bytes = ReadWholeFile(path);
  ASSERT_LT(offset, bytes.size());
  bytes[offset] ^= 0x5A;
  WriteWholeFile(path, bytes);
  (void)image;
}

class DamagedBlocks : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedBlocks, FailWhereTheDigestSaysSoAndNowhereElse) {
  const DamageCase& test = GetParam();
  TempFolder folder;
  WrittenImage written = WriteShape(folder, test.Shape);
  std::vector<uint8_t> record = RecordFor(written);
  uint32_t damaged;
  {
    MountedDisk unchecked(record, {.CheckDigests = false, .Pool = TwoThreads()});
    BlockLocation location{};
    damaged = PickBlock(unchecked, test.Kind, &location);
    if (test.Kind == Damage::StoredByte) {
      Corrupt(written, written.Paths[location.Slot], location.FileOffset + location.StoredLength / 2);
    } else {
      std::vector<ImageSet> sets = LoadSets(written.Paths);
      const CPartitionBlocks& blocks = sets[0].CatalogueFiles[0]->Disks[0]->Partitions[0]->Blocks;
      Corrupt(written, written.Paths.back(), blocks.IndexOffset + damaged * 30ull + 8);  // its digest
    }
  }
  MountedDisk checked(record, {.CheckDigests = true, .Pool = TwoThreads()});
  MountedDisk unchecked(record, {.CheckDigests = false, .Pool = TwoThreads()});
  const uint64_t start = BlockStart(checked, damaged);
  const uint32_t length = uint32_t(std::min<uint64_t>(kBlockSize, checked.Size() - start));
  const auto source = written.Source.begin() + int64_t(start);
  std::vector<uint8_t> bytes(length);

  ASSERT_EQ(unchecked.Read(start, length, bytes.data()), kReadOk);
  EXPECT_EQ(std::equal(bytes.begin(), bytes.end(), source), test.Kind == Damage::ZeroBlockDigest);

  const ReadStatus expected = test.Detected ? kReadDataError : kReadOk;
  for (int attempt = 0; attempt < 2; ++attempt) {  // a failed block is not remembered as good
    EXPECT_EQ(checked.Read(start + 100, 1, bytes.data()), expected) << attempt;
    StoredExtent extent;
    const ReadStatus status = checked.Extent(start, length, &extent);
    // A disk that decodes its blocks names no file bytes; one that splices them fails here.
    EXPECT_TRUE(status == expected || (status == kReadOk && extent.Length == 0)) << attempt;
    std::vector<uint8_t> data;
    BlockLocation location;
    EXPECT_EQ(checked.ReadBlock(damaged, data, &location), expected) << attempt;
  }
  // The whole disk: the failure names the block's first byte; every other block reads right.
  std::vector<uint8_t> disk(checked.Size());
  ReadFailure failure{};
  EXPECT_EQ(checked.Read(0, uint32_t(disk.size()), disk.data(), &failure), expected);
  if (test.Detected) {
    EXPECT_EQ(failure.Offset, start);
    EXPECT_EQ(failure.Block, damaged);
  }
  for (uint64_t block = 0; block < checked.Layout().BlockCount; ++block) {
    if (block == damaged) continue;
    const uint64_t at = BlockStart(checked, block);
    const uint32_t count = uint32_t(std::min<uint64_t>(kBlockSize, checked.Size() - at));
    ASSERT_EQ(checked.Read(at, count, bytes.data()), kReadOk) << block;
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + count, written.Source.begin() + int64_t(at))) << block;
    std::vector<uint8_t> data;
    BlockLocation location;
    ASSERT_EQ(checked.ReadBlock(uint32_t(block), data, &location), kReadOk) << block;
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + count, written.Source.begin() + int64_t(at))) << block;
  }
}

const DamageCase kDamageCases[] = {
    {"stored_block", {.Name = "", .SplitSize = 70000, .RawLength = 8192}, Damage::StoredByte, true},
    {"method1_stored_payload", {.Name = "", .Compression = 1}, Damage::StoredByte, true},
    {"aes256_stored_block", {.Name = "", .Cipher = 3, .RawLength = 4096}, Damage::StoredByte, true},
    {"zero_block_digest", {.Name = "", .RawLength = 8192}, Damage::ZeroBlockDigest, true},
    {"version2_has_no_digest", {.Name = "", .RawLength = 8192, .Version = 2}, Damage::StoredByte, false},
};

INSTANTIATE_TEST_SUITE_P(Mount, DamagedBlocks, ::testing::ValuesIn(kDamageCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// --- Block numbers past 2^32 fail instead of wrapping to block 0 --------------------------

class DiskLengthPastTheBlocks : public ::testing::TestWithParam<ImageShape> {};

TEST_P(DiskLengthPastTheBlocks, RequestsBeyondTheLastBlockFail) {
  TempFolder folder;
  WrittenImage written = WriteShape(folder, GetParam());
  MountedDisk disk(RecordFor(written, 0, [](MountValues& values) {
                     values.DiskLength = values.RawRegionLength + ((1ull << 32) + 2) * values.BlockSize;
                   }),
                   {.CheckDigests = true, .Pool = TwoThreads()});
  std::vector<uint8_t> bytes(2 * kBlockSize);
  ASSERT_EQ(disk.Read(BlockStart(disk, 0), kBlockSize, bytes.data()), kReadOk);  // a real block
  const uint64_t count = disk.Layout().BlockCount;
  const std::pair<uint64_t, uint32_t> beyond[] = {
      {BlockStart(disk, 1ull << 32), kBlockSize},       // would be block 0 in 32 bits
      {BlockStart(disk, (1ull << 32) + 1) + 5, 100},    // block 1
      {BlockStart(disk, count), 1},                     // just past the last block
      {BlockStart(disk, count) - 10, 20},               // across its end
  };
  for (auto [offset, length] : beyond) {
    EXPECT_EQ(disk.Read(offset, length, bytes.data()), kReadBadRequest) << offset;
    StoredExtent extent;
    const ReadStatus status = disk.Extent(offset, length, &extent);
    EXPECT_TRUE(status == kReadBadRequest || extent.Length == 0) << offset;
  }
}

INSTANTIATE_TEST_SUITE_P(Mount, DiskLengthPastTheBlocks,
                         ::testing::Values(ImageShape{.Name = "stored", .RawLength = 8192},
                                           ImageShape{.Name = "method1", .Compression = 1}),
                         [](const auto& info) { return std::string(info.param.Name); });

// --- Memory follows what is read, not how many partitions there are -----------------------

class ManyPartitions : public ::testing::TestWithParam<int> {};

TEST_P(ManyPartitions, ShareOnePoolAllocatedOnlyWhenRead) {
  constexpr uint32_t kLargeBlock = 4u << 20;
  const int partitions = GetParam();
  TempFolder folder;
  WrittenImage written =
      WriteShape(folder, {.Name = "", .Compression = 1, .VolumeLength = 65536, .BlockSize = kLargeBlock}, partitions);
  std::vector<std::vector<uint8_t>> records;
  for (int i = 0; i < partitions; ++i) records.push_back(RecordFor(written, size_t(i)));
  auto pool = TwoThreads(16u << 20);

  const int64_t before = heap_watch::LiveBytes();
  std::vector<std::unique_ptr<MountedDisk>> disks;
  for (const auto& record : records)
    disks.push_back(std::make_unique<MountedDisk>(record, MountedDiskOptions{true, pool}));
  EXPECT_LT(heap_watch::LiveBytes() - before, int64_t(kLargeBlock)) << "allocated before any read";

  heap_watch::TakePeak();
  std::vector<uint8_t> bytes(written.Source.size());
  for (auto& disk : disks) {
    ASSERT_EQ(disk->Read(0, uint32_t(bytes.size()), bytes.data()), kReadOk);
    EXPECT_EQ(bytes, written.Source);
  }
  EXPECT_LE(heap_watch::TakePeak() - before, int64_t(pool->MemoryBound()));

  // The bound is the one a single partition of the same block size gets.
  auto single = TwoThreads(16u << 20);
  MountedDisk alone(records[0], {.CheckDigests = true, .Pool = single});
  EXPECT_EQ(pool->MemoryBound(), single->MemoryBound());
}

INSTANTIATE_TEST_SUITE_P(Mount, ManyPartitions, ::testing::Values(2, 20));

// --- The key is wiped from everything the disk held, on every path ------------------------

enum class KeyPath { Served, FileMissing, RecordCutShort };

struct KeyCase {
  const char* Name;
  uint16_t Cipher;
  KeyPath Path;
};

class KeyInMemory : public ::testing::TestWithParam<KeyCase> {};

// A layout is copied freely (the disk, the driver's published state): it has no room for a key.
template <typename T>
constexpr bool kHasKeyField = requires(T layout) { layout.Key; };
static_assert(!kHasKeyField<VirtualDiskLayout>);

TEST_P(KeyInMemory, NoFreedBlockHoldsTheKey) {
  const KeyCase& test = GetParam();
  TempFolder folder;
  WrittenImage written = WriteShape(folder, {.Name = "", .Compression = 1, .Cipher = test.Cipher, .SplitSize = 70000});
  std::vector<uint8_t> record = RecordFor(written);
  ParsedMountRecord parsed;
  ASSERT_TRUE(ParseMountRecord(record.data(), uint32_t(record.size()), &parsed));
  // The key's first 16 bytes as they are and as the cipher's 32-bit round key words hold them.
  std::vector<uint8_t> key(parsed.Key, parsed.Key + 16), words(16);
  for (int i = 0; i < 16; ++i) words[i] = key[(i & ~3) + 3 - (i & 3)];
  explicit_bzero(&parsed, sizeof(parsed));
  if (test.Path == KeyPath::FileMissing) std::filesystem::remove(written.Paths[0]);
  if (test.Path == KeyPath::RecordCutShort) record.pop_back();

  std::vector<std::vector<uint8_t>> patterns{key, words};
  heap_watch::WatchFreedBlocksFor(std::move(patterns));
  if (test.Path == KeyPath::Served) {
    auto disk = std::make_unique<MountedDisk>(std::move(record));
    std::vector<uint8_t> bytes(disk->Size());
    EXPECT_EQ(disk->Read(0, uint32_t(bytes.size()), bytes.data()), kReadOk);
    EXPECT_EQ(bytes, written.Source);
  } else {
    EXPECT_THROW(std::make_unique<MountedDisk>(std::move(record)), MountedDiskError);
  }
  heap_watch::StopWatching();
  EXPECT_EQ(heap_watch::Hits(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Mount, KeyInMemory,
                         ::testing::Values(KeyCase{"aes256_served", 3, KeyPath::Served},
                                           KeyCase{"aes128_served", 1, KeyPath::Served},
                                           KeyCase{"file_missing", 3, KeyPath::FileMissing},
                                           KeyCase{"record_cut_short", 3, KeyPath::RecordCutShort}),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
