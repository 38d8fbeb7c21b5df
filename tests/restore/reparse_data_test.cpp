#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reparse_data.h"

namespace {
enum class Kind { Junction, SymbolicLink };

void PutUnit(std::vector<uint8_t>& bytes, size_t at, uint16_t unit) {
  bytes[at] = static_cast<uint8_t>(unit);
  bytes[at + 1] = static_cast<uint8_t>(unit >> 8);
}

// Reparse data as the system lays it out: substitute name first, zero-terminated, then the
// print name. Names are ASCII apart from the units a test puts in afterwards.
std::vector<uint8_t> ReparseData(Kind kind, const std::string& substitute,
                                 const std::string& print) {
  const size_t pathAt = kind == Kind::Junction ? 16 : 20;
  const size_t nameBytes = 2 * substitute.size(), printBytes = 2 * print.size();
  std::vector<uint8_t> bytes(pathAt + nameBytes + 2 + printBytes + 2);
  bytes[0] = kind == Kind::Junction ? 0x03 : 0x0C;
  bytes[3] = 0xA0;
  PutUnit(bytes, 4, static_cast<uint16_t>(bytes.size() - 8));
  PutUnit(bytes, 10, static_cast<uint16_t>(nameBytes));
  PutUnit(bytes, 12, static_cast<uint16_t>(nameBytes + 2));
  PutUnit(bytes, 14, static_cast<uint16_t>(printBytes));
  for (size_t k = 0; k < substitute.size(); ++k) PutUnit(bytes, pathAt + 2 * k, substitute[k]);
  const size_t printAt = pathAt + nameBytes + 2;
  for (size_t k = 0; k < print.size(); ++k) PutUnit(bytes, printAt + 2 * k, print[k]);
  return bytes;
}

ptrdiff_t Signed(size_t length) { return static_cast<ptrdiff_t>(length); }

std::string SubstituteName(const std::vector<uint8_t>& bytes, Kind kind) {
  std::string name;
  for (size_t at = kind == Kind::Junction ? 16 : 20; at + 1 < bytes.size(); at += 2) {
    uint16_t unit = static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
    if (unit == 0) break;
    name += unit < 0x80 ? static_cast<char>(unit) : '#';
  }
  return name;
}

std::optional<std::string> Text(const char* text) {
  return text ? std::optional<std::string>(text) : std::nullopt;
}

struct Row {
  Kind Type;
  const char* Target;     // substitute name on the virtual drive X
  const char* Rewritten;  // substitute name for destination E
  const char* Folder;     // folder to create, nullptr for none
};

TEST(ReparseData, LetterRewriteAndFolderOnTheDestinationOnly) {
  const Row rows[] = {
      {Kind::Junction, "\\??\\C:\\Users", "\\??\\C:\\Users", nullptr},
      {Kind::Junction, "\\??\\X:\\Data", "\\??\\E:\\Data", "E:\\Data"},
      {Kind::Junction, "\\??\\x:\\Data\\Sub", "\\??\\E:\\Data\\Sub", "E:\\Data\\Sub"},
      {Kind::Junction, "\\??\\E:\\Already", "\\??\\E:\\Already", "E:\\Already"},
      {Kind::SymbolicLink, "\\??\\X:\\Data", "\\??\\E:\\Data", nullptr},
      {Kind::SymbolicLink, "\\??\\D:\\Data", "\\??\\D:\\Data", nullptr},
      {Kind::Junction, "\\??\\X:\\", "\\??\\E:\\", nullptr},
      {Kind::Junction, "\\??\\X:", "\\??\\E:", nullptr},
      {Kind::Junction, "\\??\\X:Data", "\\??\\E:Data", nullptr},
      {Kind::Junction, "\\??\\X:\\..\\..\\etc", "\\??\\E:\\..\\..\\etc", nullptr},
      {Kind::Junction, "\\??\\X:\\Data/../../etc", "\\??\\E:\\Data/../../etc", nullptr},
      {Kind::Junction, "\\??\\X:\\Data\\.. \\up", "\\??\\E:\\Data\\.. \\up", nullptr},
      {Kind::Junction, "\\??\\X:\\a\\.\\b", "\\??\\E:\\a\\.\\b", nullptr},
      {Kind::Junction, "\\??\\X:\\Data:stream", "\\??\\E:\\Data:stream", nullptr},
      {Kind::Junction, "\\??\\X:\\Data\\X:\\Data", "\\??\\E:\\Data\\X:\\Data", nullptr},
      {Kind::Junction, "..\\Data", "..\\Data", nullptr},
      {Kind::Junction, "", "", nullptr},
  };
  for (const Row& row : rows) {
    std::vector<uint8_t> bytes = ReparseData(row.Type, row.Target, "print");
    const std::vector<uint8_t> before = bytes;
    RewriteReparseTargetLetter(bytes.data(), bytes.size(), 'X', 'E');
    EXPECT_EQ(SubstituteName(bytes, row.Type), row.Rewritten) << row.Target;
    std::vector<uint8_t> lettersPutBack = bytes;
    for (size_t at : {kJunctionLetterAt, kSymbolicLinkLetterAt})
      if (at < bytes.size()) lettersPutBack[at] = before[at];
    EXPECT_EQ(lettersPutBack, before) << row.Target;
    EXPECT_EQ(ReparseTargetFolder(bytes.data(), bytes.size(), 'E'), Text(row.Folder)) << row.Target;
  }
}

TEST(ReparseData, TargetsThatOnlyLookLikeTheVirtualDriveKeepTheirLetter) {
  struct Case {
    Kind Type;
    const char* Target;
    char Virtual;
  } cases[] = {
      {Kind::SymbolicLink, "\\??\\UNC\\server\\share", 'U'},
      {Kind::Junction, "\\??\\Volume{00000000-0000-0000-0000-000000000000}\\", 'V'},
      {Kind::Junction, "\\??\\?:\\Data", '?'},
      {Kind::SymbolicLink, "\\??\\::\\Data", ':'},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = ReparseData(c.Type, c.Target, c.Target);
    EXPECT_EQ(RewriteReparseTargetLetter(bytes.data(), bytes.size(), c.Virtual, 'E'), 0)
        << c.Target;
    EXPECT_EQ(SubstituteName(bytes, c.Type), c.Target);
  }
}

// The read may return fewer bytes than the offsets name: each length is handed over as a
// buffer of exactly that size, so a read or write past it shows under the address sanitizer.
TEST(ReparseData, ShortBuffersAreRewrittenOnlyWhereTheyHoldTheLetterAndColon) {
  const std::vector<uint8_t> junction = ReparseData(Kind::Junction, "\\??\\X:\\Data", "");
  const std::vector<uint8_t> link = ReparseData(Kind::SymbolicLink, "\\??\\X:\\Data", "");
  struct Case {
    const std::vector<uint8_t>& Full;
    size_t Length;
    int Rewritten;
  } cases[] = {
      {junction, 0, 0}, {junction, 24, 0}, {junction, 25, 0}, {junction, 27, 0}, {junction, 28, 1},
      {link, 28, 0},    {link, 30, 0},     {link, 31, 0},     {link, 32, 1},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> expected = c.Full;
    if (c.Rewritten) RewriteReparseTargetLetter(expected.data(), expected.size(), 'X', 'E');
    expected.resize(c.Length);
    std::vector<uint8_t> bytes(c.Full.begin(), c.Full.begin() + Signed(c.Length));
    EXPECT_EQ(RewriteReparseTargetLetter(bytes.data(), bytes.size(), 'X', 'E'), c.Rewritten)
        << c.Length;
    EXPECT_EQ(bytes, expected) << c.Length;
  }
}

TEST(ReparseData, TargetTextEndsAtItsZeroUnitInsideTheBuffer) {
  const std::vector<uint8_t> junction = ReparseData(Kind::Junction, "\\??\\C:\\Users", "");
  const size_t zeroAt = 16 + 2 * 12;
  struct Case {
    size_t Length;
    const char* Text;  // nullptr: refused
  } cases[] = {
      {0, nullptr}, {24, nullptr}, {25, nullptr}, {zeroAt, nullptr}, {zeroAt + 1, nullptr},
      {zeroAt + 2, "C:\\Users"}, {junction.size(), "C:\\Users"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes(junction.begin(), junction.begin() + Signed(c.Length));
    EXPECT_EQ(ReparseTargetText(bytes.data(), bytes.size()), Text(c.Text)) << c.Length;
    EXPECT_EQ(ReparseTargetFolder(bytes.data(), bytes.size(), 'C'), Text(c.Text)) << c.Length;
  }
}

TEST(ReparseData, TargetTextIsConvertedFromUtf16) {
  struct Case {
    std::vector<uint16_t> Units;  // after "\??\E:\"
    const char* Utf8;             // nullptr: refused
  } cases[] = {
      {{'D', 0x00F6, 'c'}, "D\xC3\xB6" "c"},
      {{0x20AC, 0x65E5}, "\xE2\x82\xAC\xE6\x97\xA5"},
      {{0xD83D, 0xDCC1}, "\xF0\x9F\x93\x81"},
      {{'a', 0xD83D}, nullptr},
      {{0xD83D, 'a'}, nullptr},
      {{0xDCC1, 'a'}, nullptr},
  };
  for (const Case& c : cases) {
    const std::string placeholders(c.Units.size(), '_');
    std::vector<uint8_t> bytes = ReparseData(Kind::Junction, "\\??\\E:\\" + placeholders, "");
    for (size_t k = 0; k < c.Units.size(); ++k) PutUnit(bytes, 30 + 2 * k, c.Units[k]);
    EXPECT_EQ(ReparseTargetFolder(bytes.data(), bytes.size(), 'E'),
              c.Utf8 ? Text(("E:\\" + std::string(c.Utf8)).c_str()) : std::nullopt);
  }
  // A surrogate pair cut by the end of the buffer.
  std::vector<uint8_t> cut = ReparseData(Kind::Junction, "\\??\\E:\\_", "");
  PutUnit(cut, 30, 0xD83D);
  EXPECT_FALSE(ReparseTargetText(cut.data(), 32).has_value());
}
}  // namespace
