#include "mount_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mount_record_build.h"

namespace {

MountValues SampleValues() {
  MountValues values;
  values.FormatVersion = 6;
  values.DiskLength = 64ull << 20;
  values.SectorSizeUnits = 1;
  values.BlockCount = 1000;
  values.BlockSize = 65536;
  values.Compressed = 2;
  values.IndexOffset = 0x123456789;
  values.RawRegionLength = 32768;
  values.RawRegionOffset = 4096;
  values.RawRegionFile = 1;
  values.FileCount = 3;
  values.Files = {{0, "C:\\Backups\\set-00.qvimg"},
                  {1, "\\\\server\\share\\set-01.qvimg"},
                  {2, "/srv/images/set-02.qvimg"}};
  values.Key = MakeKeyField(1, 1, "a 20-character text");
  return values;
}

std::vector<uint8_t> Build(const MountValues& values) {
  std::string error;
  auto record = BuildMountRecord(values, &error);
  EXPECT_TRUE(record.has_value()) << error;
  return record.value_or(std::vector<uint8_t>{});
}

std::vector<MountFileEntry> Entries(const ParsedMountRecord& parsed) {
  std::vector<MountFileEntry> entries;
  MountFileCursor cursor = FirstMountFile(&parsed);
  MountFileEntry entry;
  while (NextMountFile(&cursor, &entry)) entries.push_back(entry);
  return entries;
}

template <size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

TEST(MountRecordBuild, FieldsLandAtTheirOffsets) {
  std::vector<uint8_t> record = Build(SampleValues());
  auto at = [&](size_t offset, int width) {
    uint64_t value = 0;
    for (int i = width; i-- > 0;) value = value << 8 | record[offset + i];
    return value;
  };
  EXPECT_EQ(at(0, 2), 6u);
  EXPECT_EQ(at(2, 8), 64ull << 20);
  EXPECT_EQ(at(10, 1), 1u);
  EXPECT_EQ(at(11, 4), 1000u);
  EXPECT_EQ(at(15, 4), 65536u);
  EXPECT_EQ(at(19, 4), 2u);
  EXPECT_EQ(at(23, 8), 0x123456789u);
  EXPECT_EQ(at(31, 8), 32768u);
  EXPECT_EQ(at(39, 8), 4096u);
  // AES-128: the first 8 password bytes, then zeros.
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&record[47]), 8), "a 20-cha");
  EXPECT_EQ(std::vector<uint8_t>(record.begin() + 55, record.begin() + 79), std::vector<uint8_t>(24, 0));
  EXPECT_EQ(at(79, 2), 1u);
  EXPECT_EQ(at(81, 2), record.size() - 89);
  EXPECT_EQ(at(83, 2), 3u);
  EXPECT_EQ(at(85, 2), 3u);
  EXPECT_EQ(at(87, 2), 1u);
  const std::string list(record.begin() + 89, record.end());
  EXPECT_EQ(list, Bytes("\\??\\C:\\Backups\\set-00.qvimg\0\0\0") +
                      Bytes("\\??\\UNC\\server\\share\\set-01.qvimg\0\1\0") +
                      Bytes("\\??\\/srv/images/set-02.qvimg\0\2\0"));
}

TEST(MountRecordBuild, ParsedRecordGivesBackTheValues) {
  std::vector<uint8_t> record = Build(SampleValues());
  ParsedMountRecord parsed;
  ASSERT_TRUE(ParseMountRecord(record.data(), uint32_t(record.size()), &parsed));
  EXPECT_EQ(parsed.Layout.SectorSize, 512u);
  EXPECT_EQ(parsed.Layout.BlockSize, 65536u);
  EXPECT_EQ(parsed.Layout.FileCount, 3u);
  EXPECT_EQ(parsed.Layout.RawFileSlot, 1u);
  EXPECT_EQ(parsed.Layout.CipherType, 1u);
  std::vector<MountFileEntry> entries = Entries(parsed);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(std::string(entries[1].Path, entries[1].PathLength), "\\??\\UNC\\server\\share\\set-01.qvimg");
  EXPECT_EQ(entries[2].Slot, 2u);
  EXPECT_EQ(Win32PathFromNtPath({entries[1].Path, entries[1].PathLength}), "\\\\server\\share\\set-01.qvimg");
  EXPECT_EQ(Win32PathFromNtPath({entries[2].Path, entries[2].PathLength}), "/srv/images/set-02.qvimg");

  uint8_t reply[kMountQueryReplySize];
  FillMountQueryReply(&parsed.Layout, reply);
  EXPECT_EQ(0, std::memcmp(reply, record.data(), 47));
  EXPECT_EQ(0, std::memcmp(reply + 79, record.data() + 79, 2));
  EXPECT_EQ(std::vector<uint8_t>(reply + 47, reply + 79), std::vector<uint8_t>(32, 0));
}

TEST(MountRecordBuild, OneFileImage) {
  MountValues values = SampleValues();
  values.FileCount = 1;
  values.RawRegionFile = 0;
  values.Files = {{0, "/x/one.qvimg"}};
  values.Key = {};
  std::vector<uint8_t> record = Build(values);
  ParsedMountRecord parsed;
  ASSERT_TRUE(ParseMountRecord(record.data(), uint32_t(record.size()), &parsed));
  EXPECT_EQ(parsed.Layout.FileCount, 1u);
  EXPECT_EQ(Entries(parsed).size(), 1u);
  EXPECT_EQ(parsed.Layout.CipherType, 0u);
}

TEST(MountRecordBuild, ValuesThatCannotBeSentAreRefused) {
  struct Case {
    const char* Name;
    void (*Change)(MountValues&);
  } cases[] = {
      {"missing file", [](MountValues& v) { v.Files[1].Path.clear(); }},
      {"file beyond catalogue", [](MountValues& v) { v.Files[2].Number = 3; }},
      {"block size 0", [](MountValues& v) { v.BlockSize = 0; }},
      {"sector size too large", [](MountValues& v) { v.SectorSizeUnits = 256; }},
      {"file count 65536", [](MountValues& v) { v.FileCount = 65536; }},
      {"raw file beyond catalogue", [](MountValues& v) { v.RawRegionFile = 3; }},
      {"file named twice", [](MountValues& v) { v.Files[2].Number = 0; }},
      {"paths too long", [](MountValues& v) { v.Files[0].Path = std::string(70000, 'a'); }},
  };
  for (const Case& c : cases) {
    MountValues values = SampleValues();
    c.Change(values);
    std::string error;
    EXPECT_FALSE(BuildMountRecord(values, &error).has_value()) << c.Name;
    EXPECT_FALSE(error.empty()) << c.Name;
  }
}

void Put16(std::vector<uint8_t>& record, size_t at, uint16_t value) {
  record[at] = uint8_t(value);
  record[at + 1] = uint8_t(value >> 8);
}

// Parses a copy in a heap buffer of exactly the record's size, so that ASan sees any read past
// it, from a result filled with a pattern, and says whether any byte of the key was left.
bool ParseExact(const std::vector<uint8_t>& record, ParsedMountRecord* parsed, bool* keyLeft) {
  auto exact = std::make_unique<uint8_t[]>(record.size());
  std::copy(record.begin(), record.end(), exact.get());
  std::memset(parsed, 0xAA, sizeof *parsed);
  const bool accepted = ParseMountRecord(exact.get(), uint32_t(record.size()), parsed);
  *keyLeft = std::any_of(std::begin(parsed->Key), std::end(parsed->Key), [](uint8_t b) { return b != 0; });
  return accepted;
}

TEST(MountRecordParse, MalformedRecordsAreRefusedWithoutTheirKey) {
  const std::vector<uint8_t> good = Build(SampleValues());
  const size_t lastEntry = good.size() - std::strlen("\\??\\/srv/images/set-02.qvimg") - 3;
  struct Case {
    std::string Name;
    std::function<void(std::vector<uint8_t>&)> Change;
  };
  std::vector<Case> cases = {
      {"fixed part only", [](std::vector<uint8_t>& r) { r.resize(89); Put16(r, 81, 0); }},
      {"cut inside the fixed part", [](std::vector<uint8_t>& r) { r.resize(50); }},
      {"file list beyond the input", [](std::vector<uint8_t>& r) { r.pop_back(); }},
      {"bytes after the last entry", [](std::vector<uint8_t>& r) {
         r.push_back('x'); Put16(r, 81, uint16_t(r.size() - 89)); }},
      {"more entries than listed", [](std::vector<uint8_t>& r) { Put16(r, 83, 4); }},
      {"no entries", [](std::vector<uint8_t>& r) { Put16(r, 83, 0); }},
      {"path without NUL", [](std::vector<uint8_t>& r) {
         for (size_t i = 89; i < r.size(); ++i) if (r[i] == 0) r[i] = 'x'; }},
      {"empty path", [](std::vector<uint8_t>& r) {
         r.resize(89); r.insert(r.end(), {0, 0, 0}); Put16(r, 81, 3); Put16(r, 83, 1); }},
      {"slot at slot count", [](std::vector<uint8_t>& r) { Put16(r, r.size() - 2, 3); }},
      {"slot named twice", [](std::vector<uint8_t>& r) { Put16(r, r.size() - 2, 0); }},
      {"block size 0", [](std::vector<uint8_t>& r) { std::memset(&r[15], 0, 4); }},
      {"cipher type 4", [](std::vector<uint8_t>& r) { Put16(r, 79, 4); }},
      {"no file slots", [](std::vector<uint8_t>& r) { Put16(r, 85, 0); }},
      {"raw slot beyond slots", [](std::vector<uint8_t>& r) { Put16(r, 87, 3); }},
      {"index offset overflows", [](std::vector<uint8_t>& r) { std::memset(&r[23], 0xFF, 8); }},
  };
  // The last entry cut anywhere, down to one byte, with the list length saying so: the entry
  // bounds alone must refuse it, within the bytes given.
  for (size_t keep = 1; lastEntry + keep < good.size(); ++keep)
    cases.push_back({"last entry cut to " + std::to_string(keep) + " bytes", [=](std::vector<uint8_t>& r) {
                       r.resize(lastEntry + keep); Put16(r, 81, uint16_t(r.size() - 89)); }});
  // Every truncation of a good record.
  for (size_t size = 0; size < good.size(); ++size)
    cases.push_back({"cut to " + std::to_string(size), [=](std::vector<uint8_t>& r) { r.resize(size); }});

  ParsedMountRecord parsed;
  bool keyLeft = false;
  ASSERT_TRUE(ParseExact(good, &parsed, &keyLeft));
  EXPECT_EQ(0, std::memcmp(parsed.Key, &good[47], 32));
  for (const Case& c : cases) {
    std::vector<uint8_t> record = good;
    c.Change(record);
    EXPECT_FALSE(ParseExact(record, &parsed, &keyLeft)) << c.Name;
    EXPECT_FALSE(keyLeft) << c.Name;
  }
}

// The slot check covers the whole 16-bit range, not only the first slots.
TEST(MountRecordParse, SlotsAreDistinctAcrossTheSlotRange) {
  struct Case {
    uint16_t Slots[3];
    bool Accepted;
  } cases[] = {
      {{0, 8192, 65534}, true},
      {{8191, 8192, 16383}, true},
      {{40000, 8192, 40000}, false},
      {{65534, 1, 65534}, false},
  };
  for (const Case& c : cases) {
    MountValues values = SampleValues();
    values.FileCount = 65535;
    for (size_t i = 0; i < 3; ++i) values.Files[i].Number = c.Slots[i];
    // The builder hands its record to ParseMountRecord and keeps it only if it passes.
    std::string error;
    EXPECT_EQ(BuildMountRecord(values, &error).has_value(), c.Accepted)
        << c.Slots[0] << " " << c.Slots[1] << " " << c.Slots[2] << ": " << error;
  }
}

}  // namespace
