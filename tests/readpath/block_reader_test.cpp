#include "block_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "memory_image.h"
#include "token_writer.h"

namespace {

struct Reader {
  BlockReader State{};
  std::vector<uint8_t> Work;
  bool Ready = false;

  Reader(MemoryImage& image, uint32_t cached = 4) {
    uint64_t size = BlockReaderWorkSize(&image.Layout, cached);
    Work.resize(size);
    Ready = size != 0 && InitBlockReader(&State, &image.Layout, image.Key, image.Source(),
                                         Work.data(), Work.size(), cached);
  }
  ReadStatus Read(uint64_t offset, uint32_t length, std::vector<uint8_t>& out) {
    out.assign(length, 0xAB);
    return ReadVirtualDisk(&State, offset, length, out.data(), &Failure);
  }
  ReadFailure Failure{};
};

std::vector<uint8_t> DiskWithZeroBlocks(uint64_t length) {
  std::vector<uint8_t> disk = SampleDisk(length, 7);
  std::fill(disk.begin() + 3 * 4096, disk.begin() + 6 * 4096, 0);  // unstored blocks
  return disk;
}

struct ShapeCase {
  std::string Name;
  MemoryImageShape Shape;
};

class EveryShape : public testing::TestWithParam<ShapeCase> {};

// Reads of every size and alignment, the raw region's end crossed, equal the disk's bytes.
TEST_P(EveryShape, ReadsReturnTheDisksBytes) {
  const MemoryImageShape& shape = GetParam().Shape;
  MemoryImage image = MakeMemoryImage(DiskWithZeroBlocks(40 * 4096 + 1000 + shape.RawLength), shape);
  Reader reader(image);
  ASSERT_TRUE(reader.Ready);
  std::mt19937 random(1);
  std::vector<uint8_t> out;
  for (uint64_t offset = 0; offset < image.Disk.size();) {
    uint32_t length = std::min<uint64_t>(1 + random() % 20000, image.Disk.size() - offset);
    ASSERT_EQ(reader.Read(offset, length, out), kReadOk) << "offset " << offset;
    ASSERT_TRUE(std::equal(out.begin(), out.end(), image.Disk.begin() + offset)) << offset;
    offset += length;
  }
  for (int i = 0; i < 200; ++i) {
    uint64_t offset = random() % image.Disk.size();
    uint32_t length = std::min<uint64_t>(1 + random() % 9000, image.Disk.size() - offset);
    ASSERT_EQ(reader.Read(offset, length, out), kReadOk);
    ASSERT_TRUE(std::equal(out.begin(), out.end(), image.Disk.begin() + offset)) << offset;
  }
}

MemoryImageShape Shape(uint16_t version, int method, uint16_t cipher, uint64_t raw, uint16_t slots) {
  MemoryImageShape shape;
  shape.FormatVersion = version;
  shape.Method = method;
  shape.CipherType = cipher;
  shape.RawLength = raw;
  shape.Slots = slots;
  return shape;
}

INSTANTIATE_TEST_SUITE_P(
    ReadPath, EveryShape,
    testing::Values(ShapeCase{"v6_plain", Shape(6, -1, 0, 0, 1)},
                    ShapeCase{"v2_plain_raw", Shape(2, -1, 0, 12345, 1)},
                    ShapeCase{"v6_method1_raw_3slots", Shape(6, 1, 0, 8192, 3)},
                    ShapeCase{"v2_bytetokens_2slots", Shape(2, 0, 0, 0, 2)},
                    ShapeCase{"v6_bytetokens_aes128", Shape(6, 0, 1, 700, 1)},
                    ShapeCase{"v3_method1_aes192", Shape(3, 1, 2, 0, 2)},
                    ShapeCase{"v6_bytetokens_aes256_3slots", Shape(6, 0, 3, 4096, 3)},
                    ShapeCase{"v6_plain_aes256", Shape(6, -1, 3, 0, 1)}),
    [](const auto& info) { return info.param.Name; });

// Reading 4 KiB at a time decodes each stored block once and reads the index in batches.
TEST(ReadPathCost, SmallReadsDecodeEachBlockOnce) {
  MemoryImageShape shape = Shape(6, 0, 3, 0, 1);
  shape.BlockSize = 65536;
  MemoryImage image = MakeMemoryImage(SampleDisk(300 * 65536, 3), shape);
  uint32_t storedBlocks = 0;
  Reader reader(image);
  for (uint32_t i = 0; i < image.Layout.BlockCount; ++i) {
    BlockLocation location;
    ASSERT_EQ(LocateBlock(&reader.State, i, &location), kReadOk);
    storedBlocks += location.StoredLength != 0;
  }
  image.StoredReads = image.IndexReads = 0;
  std::vector<uint8_t> out;
  for (uint64_t offset = 0; offset < image.Disk.size(); offset += 4096)
    ASSERT_EQ(reader.Read(offset, 4096, out), kReadOk);
  EXPECT_EQ(image.StoredReads, storedBlocks);
  EXPECT_EQ(image.IndexReads, (300 + kIndexBatchEntries - 1) / kIndexBatchEntries);
}

TEST(ReadPathRequests, OutsideTheDiskIsRefused) {
  MemoryImage image = MakeMemoryImage(SampleDisk(10 * 4096, 1), Shape(6, -1, 0, 100, 1));
  Reader reader(image);
  std::vector<uint8_t> out;
  const uint64_t end = image.Disk.size();
  EXPECT_EQ(reader.Read(end - 1, 2, out), kReadBadRequest);
  EXPECT_EQ(reader.Read(end, 1, out), kReadBadRequest);
  EXPECT_EQ(reader.Read(UINT64_MAX - 10, 100, out), kReadBadRequest);
  EXPECT_EQ(reader.Read(end, 0, out), kReadOk);
  EXPECT_EQ(reader.Read(end - 1, 1, out), kReadOk);
}

// A disk whose length the blocks do not cover: reads beyond the last block fail.
TEST(ReadPathRequests, BeyondTheLastBlockFails) {
  MemoryImage image = MakeMemoryImage(SampleDisk(4 * 4096, 1), Shape(6, -1, 0, 0, 1));
  image.Layout.DiskLength += 4096;
  Reader reader(image);
  std::vector<uint8_t> out;
  EXPECT_EQ(reader.Read(4 * 4096 - 10, 20, out), kReadBadRequest);
}

// Each failure names where it happened: the block and the file that came up short.
TEST(ReadPathFiles, ShortReadsFail) {
  MemoryImage image = MakeMemoryImage(SampleDisk(8 * 4096 + 5000, 2), Shape(6, -1, 0, 5000, 2));
  std::vector<uint8_t> out;
  {  // raw region cut short
    MemoryImage cut = image;
    cut.Files[cut.Layout.RawFileSlot].resize(cut.Layout.RawOffset + 4000);
    Reader reader(cut);
    EXPECT_EQ(reader.Read(3000, 1500, out), kReadFileFailed);
    EXPECT_EQ(reader.Failure.Block, kNoBlock);
    EXPECT_EQ(reader.Failure.Slot, cut.Layout.RawFileSlot);
    EXPECT_EQ(reader.Failure.Offset, 3000u);
  }
  {  // block 0 lies in slot 0, cut short
    MemoryImage cut = image;
    cut.Files[0].resize(101);
    Reader reader(cut);
    EXPECT_EQ(reader.Read(5000, 10, out), kReadFileFailed);
    EXPECT_EQ(reader.Failure.Block, 0u);
    EXPECT_EQ(reader.Failure.Slot, 0u);
    // A request from the raw region into block 0 fails at the block, not before it.
    EXPECT_EQ(reader.Read(4000, 2000, out), kReadFileFailed);
    EXPECT_EQ(reader.Failure.Block, 0u);
    EXPECT_EQ(reader.Failure.Offset, 5000u);
  }
  {  // the index itself cut short
    MemoryImage cut = image;
    cut.Files.back().resize(cut.IndexEntryPosition(3));
    Reader reader(cut);
    EXPECT_EQ(reader.Read(5000 + 5 * 4096, 10, out), kReadFileFailed);
    EXPECT_EQ(reader.Failure.Block, 5u);
    EXPECT_EQ(reader.Failure.Slot, cut.Layout.FileCount - 1u);  // the index's file
  }
}

// Every failure of the file source fails the read.
TEST(ReadPathFiles, SourceFailureFails) {
  MemoryImage image = MakeMemoryImage(SampleDisk(4 * 4096, 2), Shape(6, -1, 0, 100, 1));
  Reader reader(image);
  reader.State.Files.ReadAt = [](void*, uint32_t, uint64_t, uint8_t*, uint32_t, uint32_t*) {
    return false;
  };
  std::vector<uint8_t> out;
  EXPECT_EQ(reader.Read(0, 10, out), kReadFileFailed);
  EXPECT_EQ(reader.Read(200, 10, out), kReadFileFailed);
}

void PatchEntry(MemoryImage& image, uint32_t block, uint32_t at, const std::vector<uint8_t>& bytes) {
  std::copy(bytes.begin(), bytes.end(),
            image.Files.back().begin() + image.IndexEntryPosition(block) + at);
}

uint32_t EntryLength(const MemoryImage& image, uint32_t block) {
  uint64_t at = image.IndexEntryPosition(block) + (image.Layout.FormatVersion < 3 ? 8 : 24);
  const uint8_t* p = image.Files.back().data() + at;
  return p[0] | p[1] << 8 | p[2] << 16;
}

struct EntryDamage {
  std::string Name;
  uint16_t Version;
  int Method;
  uint16_t Cipher;
  void (*Damage)(MemoryImage& image);
};

class DamagedEntry : public testing::TestWithParam<EntryDamage> {};

// Index entries and stored blocks that cannot be right fail with a data error, never with
// garbage and never outside a buffer.
TEST_P(DamagedEntry, FailsWithDataError) {
  const EntryDamage& damage = GetParam();
  std::vector<uint8_t> disk = SampleDisk(6 * 4096, 5);
  std::fill(disk.begin() + 2 * 4096, disk.begin() + 2 * 4096 + 100, 'x');  // block 2 stored
  MemoryImage image = MakeMemoryImage(disk, Shape(damage.Version, damage.Method, damage.Cipher, 0, 2));
  ASSERT_NE(EntryLength(image, 2), 0u);
  damage.Damage(image);
  Reader reader(image);
  ASSERT_TRUE(reader.Ready);
  std::vector<uint8_t> out;
  EXPECT_EQ(reader.Read(2 * 4096, 4096, out), kReadDataError);
  if (damage.Cipher == 0) {
    EXPECT_EQ(reader.Read(4096, 4096, out), kReadOk);  // block 1, in the other slot
  }
}

uint8_t* StoredBlock(MemoryImage& image, uint32_t block) {
  const uint8_t* entry = image.Files.back().data() + image.IndexEntryPosition(block);
  uint64_t offset = 0;
  for (int i = 0; i < 7; ++i) offset |= uint64_t(entry[i]) << (8 * i);
  uint32_t slot = image.Layout.FormatVersion < 3 ? entry[7] : entry[28];
  return image.Files[slot].data() + offset;
}

void SetLength(MemoryImage& image, uint32_t block, uint32_t length) {
  uint32_t at = image.Layout.FormatVersion < 3 ? 8 : 24;
  PatchEntry(image, block, at, {uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16)});
}

INSTANTIATE_TEST_SUITE_P(
    ReadPath, DamagedEntry,
    testing::Values(
        EntryDamage{"stored_length_above_twice_block", 6, 1, 0,
                    [](MemoryImage& m) { SetLength(m, 2, 2 * 4096 + 1); }},
        EntryDamage{"slot_beyond_slot_count_v6", 6, -1, 0,
                    [](MemoryImage& m) { PatchEntry(m, 2, 28, {2, 0}); }},
        EntryDamage{"slot_256_v6", 6, -1, 0, [](MemoryImage& m) { PatchEntry(m, 2, 28, {0, 1}); }},
        EntryDamage{"slot_65535_v6", 6, -1, 0, [](MemoryImage& m) { PatchEntry(m, 2, 28, {0xFF, 0xFF}); }},
        EntryDamage{"slot_byte_128_v2", 2, -1, 0,
                    [](MemoryImage& m) { PatchEntry(m, 2, 7, {128}); }},
        EntryDamage{"offset_overflows", 6, -1, 0,
                    [](MemoryImage& m) {
                      PatchEntry(m, 2, 0, {0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
                    }},
        EntryDamage{"uncompressed_block_short", 6, -1, 0, [](MemoryImage& m) { SetLength(m, 2, 4000); }},
        EntryDamage{"byte_tokens_cut_before_end_marker", 6, 0, 0,
                    [](MemoryImage& m) { SetLength(m, 2, EntryLength(m, 2) - 3); }},
        EntryDamage{"byte_tokens_trailing_garbage", 6, 0, 0,
                    [](MemoryImage& m) {
                      StoredBlock(m, 2)[EntryLength(m, 2)] = 0x55;
                      SetLength(m, 2, EntryLength(m, 2) + 1);
                    }},
        EntryDamage{"method1_header_size_too_large", 6, 1, 0,
                    [](MemoryImage& m) {
                      uint8_t* block = StoredBlock(m, 2);
                      ASSERT_EQ(block[0] & 2, 2);  // long header: sizes at 1 and 5
                      block[5] = 0xFF, block[6] = 0xFF, block[7] = 0x0F;
                    }},
        EntryDamage{"method1_payload_damaged", 6, 1, 0,
                    [](MemoryImage& m) {
                      uint8_t* block = StoredBlock(m, 2);
                      ASSERT_EQ(block[0], 3);  // coded payload, long header
                      std::memset(block + 9, 0xFF, 12);  // match tokens far beyond the output
                    }},
        EntryDamage{"encrypted_length_not_whole_cipher_blocks", 6, 0, 3,
                    [](MemoryImage& m) { SetLength(m, 2, EntryLength(m, 2) - 1); }},
        EntryDamage{"encrypted_byte_tokens_wrong_key", 6, 0, 3,
                    [](MemoryImage& m) { m.Key[0] ^= 1; }}),
    [](const auto& info) { return info.param.Name; });

// The decoded-block cache keeps only blocks that decoded: a block whose file was cut short is
// read again once the file is whole.
TEST(ReadPathFiles, FailedBlockIsReadAgainOnceItsFileIsWhole) {
  MemoryImage image = MakeMemoryImage(SampleDisk(6 * 4096, 2), Shape(6, 0, 0, 0, 2));
  Reader reader(image);
  const std::vector<uint8_t> whole = image.Files[0];
  image.Files[0].resize(image.Files[0].size() - 1);  // cuts the last stored block of slot 0
  std::vector<uint8_t> out;
  const uint64_t lastBlock = 4 * 4096;  // blocks 0, 2, 4 lie in slot 0
  ASSERT_EQ(reader.Read(lastBlock, 4096, out), kReadFileFailed);
  image.Files[0] = whole;
  ASSERT_EQ(reader.Read(lastBlock, 4096, out), kReadOk);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), image.Disk.begin() + lastBlock));
}

// A block that fails to decode into the buffer of an evicted block leaves nothing behind: the
// evicted block is decoded again, not served from its half-overwritten buffer.
TEST(ReadPathFiles, FailedDecodeDoesNotLeaveTheEvictedBlockCached) {
  std::vector<uint8_t> disk = SampleDisk(3 * 4096, 4);
  std::fill(disk.begin(), disk.begin() + 4096, 'a');
  std::fill(disk.begin() + 2 * 4096, disk.begin() + 3 * 4096, 'b');
  MemoryImage image = MakeMemoryImage(disk, Shape(6, 1, 0, 0, 1));
  // Block 2 decodes a few bytes, then a match runs past the output.
  const std::vector<uint8_t> damaged = tokens::WordStream()
                                           .Literals({'x', 'x', 'x', 'x', 'x', 'x'})
                                           .Match12(1, 5000)
                                           .Block(4096, true);
  auto& file = image.Files[0];
  const uint64_t at = file.size();
  file.insert(file.end(), damaged.begin(), damaged.end());
  std::vector<uint8_t> entry;
  for (int i = 0; i < 8; ++i) entry.push_back(uint8_t(at >> (8 * i)));
  PatchEntry(image, 2, 0, entry);
  SetLength(image, 2, uint32_t(damaged.size()));
  Reader reader(image, 1);
  std::vector<uint8_t> out;
  ASSERT_EQ(reader.Read(0, 4096, out), kReadOk);
  ASSERT_EQ(reader.Read(2 * 4096, 4096, out), kReadDataError);
  ASSERT_EQ(reader.Read(0, 4096, out), kReadOk);
  EXPECT_EQ(out, std::vector<uint8_t>(4096, 'a'));
}

// Sets may hold up to 65535 files: from format version 3 a block's file slot has 16 bits.
TEST(ReadPathFiles, BlocksInSlotsAbove255AreRead) {
  MemoryImage image = MakeMemoryImage(SampleDisk(300 * 4096, 6), Shape(6, -1, 0, 0, 300));
  Reader reader(image);
  std::vector<uint8_t> out;
  for (uint64_t block : {1u, 256u, 257u, 299u}) {
    ASSERT_EQ(reader.Read(block * 4096, 4096, out), kReadOk) << block;
    EXPECT_TRUE(std::equal(out.begin(), out.end(), image.Disk.begin() + block * 4096)) << block;
  }
}

// Encryption pads a byte-token stream with fewer than 16 zeros: those are not damage, but
// a whole extra cipher block of zeros is.
TEST(ReadPathPadding, SixteenZerosAfterTheEndMarkerAreDamage) {
  std::vector<uint8_t> disk(4096, 'a');
  MemoryImage image = MakeMemoryImage(disk, Shape(6, 0, 3, 0, 1));
  Reader good(image);
  std::vector<uint8_t> out;
  ASSERT_EQ(good.Read(0, 4096, out), kReadOk);

  // Re-store block 0 with one more cipher block of zeros before encryption.
  CipherContext cipher{};
  SetCipherKey(&cipher, image.Key, 256);
  uint8_t* stored = StoredBlock(image, 0);
  uint32_t length = EntryLength(image, 0);
  std::vector<uint8_t> plain(stored, stored + length);
  DecryptCbc(&cipher, plain.data(), int32_t(plain.size()));
  plain.resize(length + 16, 0);
  EncryptCbc(&cipher, plain.data(), int32_t(plain.size()));
  auto& file = image.Files[0];
  uint64_t offset = file.size();
  file.insert(file.end(), plain.begin(), plain.end());
  std::vector<uint8_t> word;
  for (int i = 0; i < 8; ++i) word.push_back(uint8_t(offset >> (8 * i)));
  PatchEntry(image, 0, 0, word);
  uint32_t newLength = length + 16;
  PatchEntry(image, 0, 24, {uint8_t(newLength), uint8_t(newLength >> 8), uint8_t(newLength >> 16)});
  Reader padded(image);
  EXPECT_EQ(padded.Read(0, 4096, out), kReadDataError);
}

TEST(ReadPathLayout, ValuesTheReaderCannotServeAreRefused) {
  MemoryImage base = MakeMemoryImage(SampleDisk(4 * 4096, 1), Shape(6, -1, 0, 0, 2));
  struct Case {
    const char* Name;
    void (*Change)(VirtualDiskLayout& layout);
  } cases[] = {
      {"block size 0", [](VirtualDiskLayout& l) { l.BlockSize = 0; }},
      {"block size absurd", [](VirtualDiskLayout& l) { l.BlockSize = kMaxBlockSize + 1; }},
      {"cipher type 4", [](VirtualDiskLayout& l) { l.CipherType = 4; }},
      {"no file slots", [](VirtualDiskLayout& l) { l.FileCount = 0; l.RawFileSlot = 0; }},
      {"raw slot beyond slots", [](VirtualDiskLayout& l) { l.RawFileSlot = 2; }},
      {"blocks overflow", [](VirtualDiskLayout& l) {
         l.BlockCount = UINT32_MAX; l.BlockSize = kMaxBlockSize; l.RawLength = UINT64_MAX - 100; }},
      {"raw offset overflows", [](VirtualDiskLayout& l) { l.RawLength = 10; l.RawOffset = UINT64_MAX - 5; }},
      {"index overflows", [](VirtualDiskLayout& l) { l.IndexOffset = UINT64_MAX - 50; }},
      {"disk length past 2^63", [](VirtualDiskLayout& l) { l.DiskLength = uint64_t(INT64_MAX) + 1; }},
  };
  for (const Case& c : cases) {
    MemoryImage image = base;
    c.Change(image.Layout);
    Reader reader(image);
    EXPECT_FALSE(reader.Ready) << c.Name;
    std::vector<uint8_t> out(10);
    EXPECT_EQ(ReadVirtualDisk(&reader.State, 0, 10, out.data(), nullptr), kReadBadRequest) << c.Name;
  }
  Reader reader(base, 0);
  EXPECT_FALSE(reader.Ready) << "no decoded-block buffer";
}

}  // namespace
