#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "file_io.h"
#include "image_fixtures.h"
#include "std_archive.h"

namespace {
class ArchiveTest : public ::testing::Test {
 protected:
  CStdArchive& Open(const std::vector<uint8_t>& bytes) {
    std::string path = folder_.File("archive.bin");
    WriteWholeFile(path, bytes);
    archive_ = std::make_unique<CStdArchive>(OpenFileForReading(path), 1);
    return *archive_;
  }
  std::string ThrownBy(const std::function<void()>& read) {
    try {
      read();
    } catch (const char* message) {
      return message;
    }
    return "nothing thrown";
  }

  TempFolder folder_;
  std::unique_ptr<CStdArchive> archive_;
};

std::vector<uint8_t> Concat(std::vector<uint8_t> prefix, size_t characters, uint8_t fill = 'x') {
  prefix.insert(prefix.end(), characters, fill);
  return prefix;
}

TEST_F(ArchiveTest, StringPrefixesGiveTheirLengths) {
  struct Case {
    std::vector<uint8_t> Prefix;
    size_t Length;
  } cases[] = {
      {{0}, 0},
      {{254}, 254},
      {{0xFF, 0xFF, 0x00}, 255},
      {{0xFF, 0xFD, 0xFF}, 0xFFFD},
      {{0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}, 0x10000},
      {{0xFF, 0xFE, 0xFF, 7}, 7},                       // restart, then a one-byte prefix
      {{0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF}, 0xFFFE},   // restarts once: then 0xFFFE is a length
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0},  // 0xFFFFFFFF reads as empty
  };
  for (const Case& c : cases) {
    CStdArchive& archive = Open(Concat(c.Prefix, c.Length + 3));
    CStdString s;
    archive >> s;
    EXPECT_EQ(s.size(), c.Length);
    EXPECT_EQ(archive.GetPosition(), static_cast<int64_t>(c.Prefix.size() + c.Length));
  }
}

TEST_F(ArchiveTest, StringIsCutAtItsFirstZeroByteButConsumesAll) {
  CStdArchive& archive = Open({4, 'a', 'b', 0, 'd', 'z'});
  CStdString s;
  uint8_t next = 0;
  archive >> s >> next;
  EXPECT_EQ(s, "ab");
  EXPECT_EQ(next, 'z');
}

TEST_F(ArchiveTest, ValuesAreLittleEndian) {
  CStdArchive& archive = Open({0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF,
                               1, 0, 0, 0, 0, 0, 0, 0x80});
  uint16_t word = 0;
  uint32_t dword = 0;
  int32_t negative = 0;
  uint64_t qword = 0;
  archive >> word >> dword >> negative >> qword;
  EXPECT_EQ(word, 0x1234);
  EXPECT_EQ(dword, 0x12345678u);
  EXPECT_EQ(negative, -2);
  EXPECT_EQ(qword, 0x8000000000000001ull);
}

TEST_F(ArchiveTest, ShortReadsNameTheirOperator) {
  struct Case {
    std::vector<uint8_t> Bytes;
    std::function<void(CStdArchive&)> Read;
    const char* Message;
  } cases[] = {
      {{1}, [](CStdArchive& a) { uint16_t v; a >> v; }, "CStdArchive& operator>>(unsigned short& c)"},
      {{}, [](CStdArchive& a) { uint8_t v; a >> v; }, "CStdArchive& operator>>(unsigned char& c)"},
      {{}, [](CStdArchive& a) { char v; a >> v; }, "CStdArchive& operator>>(char& c)"},
      {{1, 2, 3}, [](CStdArchive& a) { int32_t v; a >> v; }, "CStdArchive& operator>>(int& n)"},
      {{1, 2, 3}, [](CStdArchive& a) { uint32_t v; a >> v; }, "CStdArchive& operator>>(unsigned long& ul)"},
      {{1}, [](CStdArchive& a) { uint64_t v; a >> v; }, "CStdArchive& operator>>(unsigned __int64 & n)"},
      {{1}, [](CStdArchive& a) { int64_t v; a >> v; }, "CStdArchive& operator>>(__int64 & n)"},
      {{5, 'a', 'b'}, [](CStdArchive& a) { CStdString s; a >> s; }, "CStdArchive& operator>>(CStdString& s)"},
      {{0xFF, 1}, [](CStdArchive& a) { CStdString s; a >> s; }, "CStdArchive& operator>>(unsigned short& c)"},
      {{0xFF, 0xFF, 0xFF, 1}, [](CStdArchive& a) { CStdString s; a >> s; }, "CStdArchive& operator>>(unsigned long& ul)"},
      {{0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF, 3, 'a', 'b', 'c'}, [](CStdArchive& a) { CStdString s; a >> s; }, "CStdArchive& operator>>(CStdString& s)"},
  };
  for (const Case& c : cases) {
    CStdArchive& archive = Open(c.Bytes);
    EXPECT_EQ(ThrownBy([&] { c.Read(archive); }), c.Message);
  }
}

TEST_F(ArchiveTest, HugeStringLengthIsRefusedWithoutAllocatingIt) {
  // Claims 4 GiB - 2 characters with three present: the string keeps those and the read fails.
  CStdArchive& archive = Open({0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c'});
  CStdString s;
  EXPECT_EQ(ThrownBy([&] { archive >> s; }), "CStdArchive& operator>>(CStdString& s)");
  EXPECT_EQ(s, "abc");
}

TEST_F(ArchiveTest, StringOverAHoleInASparseFileIsSkippedNotHeld) {
  // 4 GiB - 16 characters of a hole, then one byte: the text ends at the hole's first zero.
  std::string path = folder_.File("sparse.bin");
  uint64_t length = 0xFFFFFFF0;
  WriteWholeFile(path, {0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF, 'a', 'b'});
  std::filesystem::resize_file(path, 7 + length);
  std::ofstream(path, std::ios::binary | std::ios::app) << 'z';
  CStdArchive archive(OpenFileForReading(path), 1);
  CStdString s;
  uint8_t next = 0;
  archive >> s >> next;
  EXPECT_EQ(s, "ab");
  EXPECT_EQ(next, 'z');

  std::filesystem::resize_file(path, 7 + length - 1);  // one character short
  CStdArchive shorter(OpenFileForReading(path), 1);
  EXPECT_EQ(ThrownBy([&] { shorter >> s; }), "CStdArchive& operator>>(CStdString& s)");
  EXPECT_EQ(s, "ab");
}

TEST_F(ArchiveTest, BulkReadsCrossWholePieces) {
  for (size_t length : {size_t{2} << 20, (size_t{1} << 20) + 1}) {
    std::vector<uint8_t> bytes = MakeVolumeBytes(length, 7);
    CStdArchive& archive = Open(bytes);
    std::vector<uint8_t> back(length + 10);
    EXPECT_EQ(archive.Read(back.data(), back.size()), length);
    back.resize(length);
    EXPECT_EQ(back, bytes);
  }
}
}  // namespace
