#include <gtest/gtest.h>

#include <vector>

#include "boot_records.h"

namespace {
void Store(std::vector<uint8_t>& bytes, size_t at, uint64_t value, int width) {
  for (int k = 0; k < width; ++k) bytes[at + k] = static_cast<uint8_t>(value >> (8 * k));
}

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t k = 0; k < size; ++k) bytes[k] = static_cast<uint8_t>(seed + k * 7);
  return bytes;
}

TEST(MergeBootArea, SourceBootCodeAroundTheDestinationParameterBlock) {
  std::vector<uint8_t> source = Pattern(kBootAreaSize, 1);
  const std::vector<uint8_t> destination = Pattern(kBootAreaSize, 2);
  std::vector<uint8_t> expected = source;
  std::copy(destination.begin() + 11, destination.begin() + 84, expected.begin() + 11);
  ASSERT_TRUE(MergeBootArea(source, destination));
  EXPECT_EQ(source, expected);

  for (auto [sourceSize, destinationSize] : {std::pair{kBootAreaSize - 1, kBootAreaSize},
                                             std::pair{kBootAreaSize, size_t{84}}}) {
    std::vector<uint8_t> shortSource = Pattern(sourceSize, 1);
    const std::vector<uint8_t> before = shortSource;
    EXPECT_FALSE(MergeBootArea(shortSource, Pattern(destinationSize, 2))) << sourceSize;
    EXPECT_EQ(shortSource, before);
  }
}

constexpr uint32_t kPrevious = 0x44332211, kImage = 0xD4C3B2A1;

// A record whose entries start at the given sectors, entry 0 active, the rest of the sector
// a pattern that no edit may touch.
std::vector<uint8_t> Record(std::array<uint32_t, 4> startingSectors) {
  std::vector<uint8_t> record = Pattern(kMasterBootRecordSize, 9);
  Store(record, 440, kPrevious, 4);
  for (size_t n = 0; n < 4; ++n) {
    record[446 + 16 * n] = n == 0 ? 0x80 : 0x00;
    Store(record, 446 + 16 * n + 8, startingSectors[n], 4);
  }
  return record;
}

constexpr uint64_t kMiB = 1 << 20;

TEST(EditDiskRecord, SignatureAndActiveFlagsFollowTheChoices) {
  struct Case {
    const char* What;
    DiskRecordChoices Choices;
    std::array<uint32_t, 4> Sectors;
    uint64_t Offset;
    uint32_t BytesPerSector;
    std::array<uint8_t, 4> Flags;  // expected boot indicators
    bool ImageSignature;           // expected at 440: the image's, else the previous one
    bool MustWrite;
  } cases[] = {
      {"neither", {false, false}, {63, 2048, 0, 0}, kMiB, 512, {0x80, 0, 0, 0}, false, false},
      {"replace only", {false, true}, {63, 2048, 0, 0}, kMiB, 512, {0x80, 0, 0, 0}, true, true},
      {"both", {true, true}, {63, 2048, 4096, 8192}, kMiB, 512, {0, 0x80, 0, 0}, true, true},
      {"mark alone", {true, false}, {63, 2048, 0, 0}, kMiB, 512, {0, 0x80, 0, 0}, false, true},
      {"4K sectors", {true, false}, {63, 2048, 0, 256}, kMiB, 4096, {0, 0, 0, 0x80}, false, true},
      {"no match", {true, false}, {63, 4096, 0, 0}, kMiB, 512, {0x80, 0, 0, 0}, false, false},
      {"no sector size", {true, false}, {63, 2048, 0, 0}, kMiB, 0, {0x80, 0, 0, 0}, false, false},
      {"offset 0, empty", {true, false}, {63, 2048, 0, 0}, 0, 512, {0x80, 0, 0, 0}, false, false},
      {"2 TiB", {true, true}, {63, 1u << 31, 0, 0}, kMiB << 20, 512, {0, 0x80, 0, 0}, true, true},
      {"twice", {true, false}, {2048, 63, 2048, 0}, kMiB, 512, {0x80, 0, 0x80, 0}, false, true},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> record = Record(c.Sectors);
    std::vector<uint8_t> expected = record;
    for (size_t n = 0; n < 4; ++n) expected[446 + 16 * n] = c.Flags[n];
    const uint32_t signature = c.ImageSignature ? kImage : kPrevious;
    Store(expected, 440, signature, 4);

    auto edit = EditDiskRecord(record, kImage, c.Choices, c.Offset, c.BytesPerSector);
    ASSERT_TRUE(edit) << c.What;
    EXPECT_EQ(record, expected) << c.What;
    EXPECT_EQ(edit->MustWrite, c.MustWrite) << c.What;
    EXPECT_EQ(edit->Previous, kPrevious) << c.What;
    EXPECT_EQ(edit->Written, signature) << c.What;
  }
}

TEST(EditDiskRecord, ShortRecordIsRefusedUntouched) {
  std::vector<uint8_t> record = Record({63, 2048, 0, 0});
  record.pop_back();
  const std::vector<uint8_t> before = record;
  EXPECT_FALSE(EditDiskRecord(record, kImage, {true, true}, 2048 * 512, 512));
  EXPECT_EQ(record, before);
}

constexpr uint64_t kImageOffset = 0x100000, kDestinationOffset = 0x7E00000;

TEST(ChooseBootConfigurationRewrite, ImageReferenceBecomesWhatTheDestinationDiskCarries) {
  const DeviceReference image{kImageOffset, kImage};
  const DiskRecordEdit replaced{true, kPrevious, kImage}, kept{true, kPrevious, kPrevious},
      untouched{false, kPrevious, kPrevious};
  struct Case {
    const char* What;
    bool Update;
    DestinationDisk Disk;
    std::optional<DeviceReference> Replacement;
  } cases[] = {
      {"replaced and written", true, {kDestinationOffset, replaced, true},
       DeviceReference{kDestinationOffset, kImage}},
      {"replaced, write failed", true, {kDestinationOffset, replaced, false},
       DeviceReference{kDestinationOffset, kPrevious}},
      {"kept and written", true, {kDestinationOffset, kept, true},
       DeviceReference{kDestinationOffset, kPrevious}},
      {"read, not written", true, {kDestinationOffset, untouched, false},
       DeviceReference{kDestinationOffset, kPrevious}},
      {"not asked for", false, {kDestinationOffset, replaced, true}, std::nullopt},
      {"record not read", true, {kDestinationOffset, std::nullopt, false}, std::nullopt},
      {"offset unknown", true, {0, replaced, true}, std::nullopt},
      {"same disk, same place", true, {kImageOffset, replaced, true}, std::nullopt},
  };
  for (const Case& c : cases) {
    auto rewrite = ChooseBootConfigurationRewrite(c.Update, image, c.Disk);
    ASSERT_EQ(rewrite.has_value(), c.Replacement.has_value()) << c.What;
    if (!rewrite) continue;
    EXPECT_EQ(rewrite->Key, image) << c.What;
    EXPECT_EQ(rewrite->Replacement, *c.Replacement) << c.What;
  }
}

void PutReference(std::vector<uint8_t>& store, size_t at, const DeviceReference& reference) {
  Store(store, at, reference.PartitionOffset, 8);
  Store(store, at + 24, reference.Signature, 4);
}

TEST(RewriteBootConfiguration, EveryMatchingReferenceInsideTheScannedRange) {
  const BootConfigurationRewrite rewrite{{kImageOffset, kImage}, {kDestinationOffset, kPrevious}};
  struct Case {
    const char* What;
    size_t Length;
    std::vector<size_t> References;  // where the key is put
    std::vector<size_t> Rewritten;   // which of them are rewritten
    std::optional<DeviceReference> Decoy;  // a near miss put at byte 100
  } cases[] = {
      {"28 bytes: not scanned", 28, {0}, {}, {}},
      {"29 bytes", 29, {0}, {0}, {}},
      {"ends on the last byte", 200, {172}, {}, {}},
      {"ends one byte earlier", 200, {171}, {171}, {}},
      {"several, unaligned", 4096, {0, 9, 1001, 4000}, {0, 9, 1001, 4000}, {}},
      {"none", 4096, {}, {}, {}},
      {"other signature", 4096, {}, {}, DeviceReference{kImageOffset, kPrevious}},
      {"other offset", 4096, {}, {}, DeviceReference{kImageOffset + 512, kImage}},
      {"empty", 0, {}, {}, {}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> store = Pattern(c.Length, 5);
    if (c.Decoy) PutReference(store, 100, *c.Decoy);
    for (size_t at : c.References) PutReference(store, at, rewrite.Key);
    std::vector<uint8_t> expected = store;
    for (size_t at : c.Rewritten) PutReference(expected, at, rewrite.Replacement);

    EXPECT_EQ(RewriteBootConfiguration(store, rewrite), !c.Rewritten.empty()) << c.What;
    EXPECT_EQ(store, expected) << c.What;
  }
}

TEST(SetBootStatusFlag, OnlyByteElevenOfAFileOfTwelveBytesOrMore) {
  for (size_t size : {size_t{0}, size_t{11}, size_t{12}, size_t{65536}}) {
    std::vector<uint8_t> status = Pattern(size, 3);
    std::vector<uint8_t> expected = status;
    if (size >= 12) expected[11] = 1;
    EXPECT_EQ(SetBootStatusFlag(status), size >= 12) << size;
    EXPECT_EQ(status, expected) << size;
  }
}
}  // namespace
