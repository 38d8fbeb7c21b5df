// Reads through "\\.\X:" of images in many shapes, compared with the partition's bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "mount_record.h"
#include "test_images.h"
#include "virtual_drive.h"

namespace {

constexpr uint64_t kSector = 512;

const ImageShape kShapes[] = {
    {"v6-stored", 6, 0, BlockMethod::Method1, 0, 0, 0, 65536},
    {"v2-stored", 2, 0, BlockMethod::Method1, 0, 0, 0, 32768},
    {"v6-method1", 6, 1, BlockMethod::Method1, 0, 0, 0, 65536},
    {"v2-method1", 2, 2, BlockMethod::Method1, 0, 0, 0, 16384},
    {"v6-bytetokens", 6, 2, BlockMethod::ByteTokens, 0, 0, 0, 65536},
    {"v2-bytetokens", 2, 1, BlockMethod::ByteTokens, 0, 0, 0, 32768},
    {"v6-aes128", 6, 1, BlockMethod::Alternate, 1, 0, 0, 65536},
    {"v6-aes192", 6, 0, BlockMethod::Method1, 2, 0, 0, 16384},
    {"v6-aes256", 6, 2, BlockMethod::ByteTokens, 3, 0, 0, 65536},
    {"v2-aes256", 2, 1, BlockMethod::Method1, 3, 0, 0, 32768},
    {"v6-three-files", 6, 0, BlockMethod::Method1, 0, 3 * 65536, 0, 65536},
    {"v2-three-files", 2, 1, BlockMethod::Alternate, 3, 2 * 16384, 0, 16384},
    {"v6-raw-region", 6, 1, BlockMethod::Alternate, 0, 0, 100 * kSector, 65536},
    {"v2-raw-region", 2, 0, BlockMethod::Method1, 0, 0, 2 * 65536 + 7 * kSector, 65536},
};

struct ReadCase {
  uint64_t Offset;
  uint32_t Length;
};

// Fixed cases at the places where the read path changes pieces, then sector-aligned ones
// spread by a seeded generator.
std::vector<ReadCase> ReadCases(uint64_t size, uint32_t blockSize, uint64_t rawRegion) {
  const uint64_t first = rawRegion;  // first block's virtual offset
  std::vector<ReadCase> cases = {
      {0, 512},
      {0, 4096},
      {3 * kSector, 8192},
      {first + blockSize - kSector, 2 * kSector},               // across a block boundary
      {first + blockSize + 4096, 3 * blockSize},                  // several blocks, a zero one among them
      {first + 2 * uint64_t(blockSize), blockSize},               // exactly the zero block
      {size - 3 * kSector, 3 * kSector},                          // the partial last block
      {size - 64 * kSector, 64 * kSector},
      {0, uint32_t(std::min<uint64_t>(size / kSector * kSector, 1 << 20))},
  };
  if (rawRegion) {
    cases.push_back({rawRegion - kSector, 2 * kSector});  // raw region into the first block
    cases.push_back({0, uint32_t(rawRegion)});
    cases.push_back({kSector, uint32_t(rawRegion + blockSize)});
  }
  uint32_t state = 0x9E3779B9u ^ blockSize;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  const uint64_t sectors = size / kSector;
  for (int i = 0; i < 40; ++i) {
    const uint64_t sector = next() % sectors;
    const uint64_t count = 1 + next() % (2 * blockSize / kSector);
    cases.push_back({sector * kSector, uint32_t(std::min(count, sectors - sector) * kSector)});
  }
  return cases;
}

class ShapeTest : public ::testing::TestWithParam<ImageShape> {};

TEST_P(ShapeTest, ReadsEqualThePartitionBytes) {
  const ImageShape& shape = GetParam();
  const TestImage image = MakeTestImage(shape);
  ASSERT_EQ(image.Error, "");
  if (shape.SplitSize) {
    EXPECT_GE(image.Files.size(), 3u);
  } else {
    EXPECT_EQ(image.Files.size(), 1u);
  }

  VirtualDrive drive(1);
  ASSERT_EQ(drive.Mount(image.Record), DWORD(ERROR_SUCCESS));

  const uint64_t size = image.Volume.size();
  std::vector<uint8_t> buffer;
  for (const ReadCase& read : ReadCases(size, shape.BlockSize, shape.RawRegion)) {
    SCOPED_TRACE(testing::Message() << "offset " << read.Offset << " length " << read.Length);
    buffer.assign(read.Length, 0xCC);
    DWORD got = 0;
    ASSERT_EQ(drive.ReadAt(read.Offset, buffer.data(), read.Length, &got), DWORD(ERROR_SUCCESS));
    ASSERT_EQ(got, read.Length);
    ASSERT_TRUE(std::equal(buffer.begin(), buffer.end(), image.Volume.begin() + read.Offset));
  }

  // Nothing past the end of the partition, not even the rest of a padded last block.
  buffer.assign(2 * kSector, 0);
  EXPECT_NE(drive.ReadAt(size / kSector * kSector + kSector, buffer.data(), DWORD(kSector)), DWORD(ERROR_SUCCESS));
  EXPECT_NE(drive.ReadAt(size - kSector, buffer.data(), DWORD(2 * kSector)), DWORD(ERROR_SUCCESS));
  DWORD got = 1;
  EXPECT_EQ(drive.ReadAt(0, buffer.data(), 0, &got), DWORD(ERROR_SUCCESS));
  EXPECT_EQ(got, 0u);

  // The reply repeats the mount values and nothing else: no key bytes, no list fields.
  uint8_t reply[kMountQueryReplySize + 10];
  memset(reply, 0xAA, sizeof reply);
  DWORD returned = 0;
  ASSERT_EQ(drive.Control(IOCTL_IMAGE_QUERY, nullptr, 0, reply, sizeof reply, &returned), DWORD(ERROR_SUCCESS));
  EXPECT_EQ(returned, kMountQueryReplySize);
  const size_t keyField = offsetof(MountRecord, KeyField);
  const size_t cipherType = offsetof(MountRecord, CipherType);
  EXPECT_EQ(0, memcmp(reply, image.Record.data(), keyField));
  EXPECT_EQ(0, memcmp(reply + cipherType, image.Record.data() + cipherType, 2));
  EXPECT_TRUE(std::all_of(reply + keyField, reply + cipherType, [](uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::all_of(reply + cipherType + 2, reply + kMountQueryReplySize, [](uint8_t b) { return b == 0; }));

  EXPECT_EQ(drive.Unmount(), DWORD(ERROR_SUCCESS));
  EXPECT_EQ(drive.ReadAt(0, buffer.data(), DWORD(kSector)), DWORD(ERROR_NOT_READY));
  RemoveTestImage(image);
}

INSTANTIATE_TEST_SUITE_P(Images, ShapeTest, ::testing::ValuesIn(kShapes),
                         [](const auto& info) {
                           std::string name = info.param.Name;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

TEST(DamagedImage, UndecodableBlockFailsItsReadsOnly) {
  constexpr ImageShape kShape = {"damaged-block", 6, 2, BlockMethod::ByteTokens, 0, 0, 0, 65536};
  const TestImage image = MakeTestImage(kShape);
  ASSERT_EQ(image.Error, "");
  ASSERT_TRUE(BreakStoredBlock(image, 1));

  VirtualDrive drive(1);
  ASSERT_EQ(drive.Mount(image.Record), DWORD(ERROR_SUCCESS));
  std::vector<uint8_t> buffer(2 * kShape.BlockSize);
  // Asked again, the block fails again: what did decode of it is not served as its data.
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    EXPECT_EQ(drive.ReadAt(kShape.BlockSize, buffer.data(), 4096), DWORD(ERROR_CRC));
    EXPECT_EQ(drive.ReadAt(kShape.BlockSize - 4096, buffer.data(), 8192), DWORD(ERROR_CRC));
  }
  // The blocks around it still read as the partition.
  for (uint64_t offset : {uint64_t(0), 2ull * kShape.BlockSize, 3ull * kShape.BlockSize}) {
    SCOPED_TRACE(offset);
    ASSERT_EQ(drive.ReadAt(offset, buffer.data(), kShape.BlockSize), DWORD(ERROR_SUCCESS));
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + kShape.BlockSize, image.Volume.begin() + offset));
  }
  EXPECT_EQ(drive.Unmount(), DWORD(ERROR_SUCCESS));
  RemoveTestImage(image);
}

}  // namespace
