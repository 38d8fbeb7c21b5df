// Sets of image files, the password's key field and the small texts of the format.
#include <gtest/gtest.h>

#include "image_fixtures.h"
#include "md5.h"
#include "partition_types.h"
#include "password.h"
#include "path_names.h"

namespace {
std::unique_ptr<CImageFile> Member(uint16_t number, bool catalogue, const std::string& path,
                                   ImageId id = {1, 2, 3, 4, 5, 6, 7, 8}) {
  auto image = std::make_unique<CImageFile>();
  image->Id = id;
  image->FileNumber = number;
  image->CatalogueFlag = catalogue ? 1 : 0;
  image->BackupNumber = static_cast<uint16_t>(number + 100);
  image->FilePath = path;
  return image;
}

void AddPartitionNaming(CImageFile& image, std::vector<uint16_t> numbers) {
  auto disk = std::make_unique<ImageDisk>();
  auto partition = std::make_unique<ImagePartition>();
  for (uint16_t n : numbers) partition->Volume.FileRefs.push_back({n, "", 0});
  disk->Partitions.push_back(std::move(partition));
  image.Disks.push_back(std::move(disk));
}

TEST(ImageSet, AddsByIdentifierSortedAndRefusesRepeatedNumbers) {
  std::vector<ImageSet> sets;
  EXPECT_TRUE(AddImageToSets(sets, Member(2, false, "b")));
  EXPECT_TRUE(AddImageToSets(sets, Member(0, false, "a")));
  EXPECT_TRUE(AddImageToSets(sets, Member(2, true, "c")));  // other list: accepted
  EXPECT_FALSE(AddImageToSets(sets, Member(2, false, "d")));
  EXPECT_TRUE(AddImageToSets(sets, Member(0, false, "e", {9})));
  ASSERT_EQ(sets.size(), 2u);
  ASSERT_EQ(sets[0].OtherFiles.size(), 2u);
  EXPECT_EQ(sets[0].OtherFiles[0]->FilePath, "a");
  EXPECT_EQ(sets[0].OtherFiles[1]->FilePath, "b");
  EXPECT_EQ(sets[0].CatalogueFiles.size(), 1u);
  EXPECT_EQ(sets[1].Id, (ImageId{9}));
}

TEST(ImageSet, LocateFileNumberPrefersCatalogueFilesAndChecksTheFileOpens) {
  TempFolder folder;
  WriteWholeFile(folder.File("cat"), {1});
  std::vector<ImageSet> sets;
  AddImageToSets(sets, Member(1, false, folder.File("other")));
  AddImageToSets(sets, Member(1, true, folder.File("cat")));
  AddImageToSets(sets, Member(2, false, folder.File("gone")));
  CStdString path = "unchanged";
  EXPECT_FALSE(LocateFileNumber(sets[0], 7, path));
  EXPECT_EQ(path, "unchanged");
  EXPECT_TRUE(LocateFileNumber(sets[0], 1, path));
  EXPECT_EQ(path, folder.File("cat"));
  EXPECT_FALSE(LocateFileNumber(sets[0], 2, path));  // named, but the file is not there
  EXPECT_EQ(path, folder.File("gone"));
}

TEST(ImageSet, AllFilesPresentChecksEveryFileReference) {
  std::vector<ImageSet> sets;
  auto catalogue = Member(3, true, "c");
  AddPartitionNaming(*catalogue, {0, 1});
  AddPartitionNaming(*catalogue, {});
  const CImageFile& image = *catalogue;
  AddImageToSets(sets, std::move(catalogue));
  AddImageToSets(sets, Member(0, false, "a"));
  EXPECT_FALSE(AllFilesPresent(sets[0], image));
  AddImageToSets(sets, Member(1, false, "b"));
  EXPECT_TRUE(AllFilesPresent(sets[0], image));

  CImageFile noReferences;
  AddPartitionNaming(noReferences, {});
  EXPECT_TRUE(AllFilesPresent(ImageSet{}, noReferences));
}

TEST(ImageSet, FindImageByPathMatchesBaseNamesIgnoringCase) {
  std::vector<ImageSet> sets;
  AddImageToSets(sets, Member(0, false, "D:\\Backups\\ABC-00-00.qvimg"));
  ImageId id{};
  uint16_t backup = 0;
  EXPECT_TRUE(FindImageByPath(sets[0], "E:\\old\\abc-00-00.qvbak", id, backup));
  EXPECT_EQ(id, (ImageId{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(backup, 100);
  EXPECT_TRUE(FindImageByPath(sets[0], "/mnt/x/ABC-00-00.QVIMG", id, backup));
  EXPECT_FALSE(FindImageByPath(sets[0], "E:\\old\\abc-00-01.qvimg", id, backup));
}

TEST(PathNames, FolderAndBaseName) {
  struct Case {
    const char* Path;
    const char* Folder;
    const char* Base;
  } cases[] = {
      {"C:\\images\\backup.00.qvimg", "C:\\images\\", "backup.00"},
      {"name", "", "name"},
      {"/srv/img/x.qvbak", "/srv/img/", "x"},
      {"C:\\dir.d\\noext", "C:\\dir.d\\", "noext"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PathFolder(c.Path), c.Folder) << c.Path;
    EXPECT_EQ(PathBaseName(c.Path), c.Base) << c.Path;
  }
}

TEST(KeyField, CopiesThePasswordBytesTheCipherTypeTakes) {
  struct Case {
    uint32_t Flag, Cipher;
    std::string Password;
    size_t Copied;
    uint16_t Type;
  } cases[] = {
      {0, 3, "password", 0, 0},
      {1, 1, "twenty characters!!!", 8, 1},
      {1, 2, "twenty characters!!!", 16, 2},
      {1, 3, "five!", 5, 3},
      {1, 3, std::string(40, 'k'), 32, 3},
  };
  for (const Case& c : cases) {
    KeyField key = MakeKeyField(c.Flag, c.Cipher, c.Password);
    EXPECT_EQ(key.CipherType, c.Type);
    std::array<uint8_t, 32> expected{};
    std::copy_n(c.Password.begin(), c.Copied, expected.begin());
    EXPECT_EQ(key.Key, expected) << c.Password;
  }
}

TEST(Password, EmptyEntryMatchesOnlyTheDigestOfNothing) {
  Digest empty = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                  0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};
  EXPECT_TRUE(PasswordMatches(empty, ""));
  EXPECT_FALSE(PasswordMatches(empty, " "));
}

// The typed text is UTF-8, the digest is of Windows-1252 bytes: only the converted, matching
// entry becomes the image's password, and a refused one leaves the accepted one in place.
TEST(Password, AcceptPasswordKeepsOnlyTheMatchingEntryInTheImagesCodePage) {
  CImageFile image;
  image.PasswordFlag = 1;
  image.PasswordDigest = Md5("caf\xE9", 4);
  struct Case {
    const char* Typed;
    PasswordEntry Result;
    const char* Kept;
  } cases[] = {
      {"caf\xC3\xA9", PasswordEntry::Accepted, "caf\xE9"},
      {"caf\xE9", PasswordEntry::NotWindows1252, "caf\xE9"},  // already Windows-1252: not UTF-8
      {"CAF\xC3\x89", PasswordEntry::Wrong, "caf\xE9"},
      {"caf\xD0\x96", PasswordEntry::NotWindows1252, "caf\xE9"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AcceptPassword(image, c.Typed), c.Result) << c.Typed;
    EXPECT_EQ(image.Password, c.Kept) << c.Typed;
  }
  CImageFile fresh;
  fresh.PasswordDigest = image.PasswordDigest;
  EXPECT_EQ(AcceptPassword(fresh, "cafe"), PasswordEntry::Wrong);
  EXPECT_EQ(fresh.Password, "");
}

TEST(Windows1252, ConvertsWhatTheCodePageHoldsAndRefusesTheRest) {
  EXPECT_EQ(Utf8ToWindows1252("abc"), "abc");
  EXPECT_EQ(Utf8ToWindows1252("\xC3\xA9\xE2\x82\xAC"), "\xE9\x80");  // é €
  EXPECT_EQ(Utf8ToWindows1252("\xC5\xB8"), "\x9F");                  // Ÿ
  EXPECT_EQ(Utf8ToWindows1252("\xE2\x82\xAC"), "\x80");
  EXPECT_EQ(Utf8ToWindows1252("\xD0\x96"), std::nullopt);          // Cyrillic Zhe
  EXPECT_EQ(Utf8ToWindows1252("\xC2\x81"), std::nullopt);          // U+0081: byte 0x81 is undefined
  EXPECT_EQ(Utf8ToWindows1252("\xC3"), std::nullopt);              // cut sequence
  EXPECT_EQ(Utf8ToWindows1252("\xC0\xAF"), std::nullopt);          // overlong
  EXPECT_EQ(Windows1252ToUtf8("\xE9\x80\x81"), "\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBD");
}

TEST(FormatTexts, ImageIdAndPartitionTypeNames) {
  EXPECT_EQ(FormatImageId({0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}), "0123456789ABCDEF");
  EXPECT_STREQ(PartitionTypeName(0x07), "NTFS");
  EXPECT_STREQ(PartitionTypeName(0x0D), "Unknown");
  EXPECT_STREQ(PartitionTypeName(0xFF), "Xenix Bad Block Table");
  EXPECT_STREQ(PartitionTypeName(0x00), "Empty");
}
}  // namespace
