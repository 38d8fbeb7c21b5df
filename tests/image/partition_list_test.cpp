// The partition list's load rules over real folders of written images.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "image_fixtures.h"
#include "partition_list.h"

namespace {
class ImageFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteWholeFile(folder_.File("p.raw"), MakeVolumeBytes(60000, 4));
  }
  WriterPartition Partition(int32_t major, uint16_t minor, const std::string& label) {
    WriterPartition partition;
    partition.SourcePath = folder_.File("p.raw");
    partition.MajorOrder = major;
    partition.MinorOrder = minor;
    partition.Label = label;
    return partition;
  }
  ImageWriterOptions Options(const std::string& name, ImageId id) {
    ImageWriterOptions options;
    options.OutputPath = folder_.File(name);
    options.Id = id;
    options.BackupTime = 1700000000;
    options.BlockSize = 8192;
    return options;
  }
  std::vector<std::string> Labels(const FolderListing& listing) {
    std::vector<std::string> labels;
    for (const PartitionRow& row : listing.Rows) labels.push_back(row.Partition->Volume.Label);
    return labels;
  }

  TempFolder folder_;
};

TEST_F(ImageFolder, RowsOfEqualTimeFollowTheirOrderNumbers) {
  ImageWriterOptions options = Options("one.qvimg", {1});
  options.Disks = {{0, 1, 0, {Partition(2, 0, "c"), Partition(0, 5, "a")}},
                   {1, 2, 0, {Partition(1, 0, "b")}}};
  WriteImage(options);
  FolderListing listing = LoadImageFolder(folder_.File("one.qvimg"), ScanRule::QvimgExact);
  EXPECT_EQ(listing.Message, "");
  EXPECT_EQ(Labels(listing), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(ImageFolder, NewerCatalogueFilesComeFirstAndOtherBackupsAreLeftOut) {
  ImageWriterOptions first = Options("run1.qvimg", {7});
  first.Disks = {{0, 1, 0, {Partition(0, 0, "old")}}};
  first.BackupNumber = 1;
  WriteImage(first);
  ImageWriterOptions second = Options("run2.qvimg", {7});
  second.Disks = {{0, 1, 0, {Partition(0, 0, "new")}}};
  second.BackupNumber = 1;
  second.FirstFileNumber = 1;
  second.BackupTime = 1800000000;
  WriteImage(second);
  ImageWriterOptions third = Options("run3.qvimg", {7});
  third.Disks = {{0, 1, 0, {Partition(0, 0, "other run")}}};
  third.BackupNumber = 2;
  third.FirstFileNumber = 2;
  WriteImage(third);
  ImageWriterOptions unrelated = Options("unrelated.qvimg", {8});
  unrelated.Disks = {{0, 1, 0, {Partition(0, 0, "unrelated")}}};
  unrelated.BackupNumber = 1;
  WriteImage(unrelated);

  FolderListing listing = LoadImageFolder(folder_.File("run1.qvimg"), ScanRule::QvimgExact);
  EXPECT_EQ(Labels(listing), (std::vector<std::string>{"new", "old"}));
}

TEST_F(ImageFolder, MissingDataFileLeavesOnlyTheMessage) {
  ImageWriterOptions options = Options("split.qvimg", {2});
  options.SplitSize = 20000;
  options.Disks = {{0, 1, 0, {Partition(0, 0, "x")}}};
  std::vector<std::string> paths = WriteImage(options);
  ASSERT_GE(paths.size(), 3u);
  EXPECT_EQ(LoadImageFolder(paths.back(), ScanRule::QvimgExact).Rows.size(), 1u);
  std::filesystem::remove(paths[1]);
  FolderListing listing = LoadImageFolder(paths.back(), ScanRule::QvimgExact);
  EXPECT_TRUE(listing.Rows.empty());
  EXPECT_EQ(listing.Message, "'" + paths.back() +
                                 "' is part of a multi file image and at least one of the files "
                                 "does not exists in this directory");
}

TEST_F(ImageFolder, UnreadableChosenFileIsCorruptWithTheReadersReason) {
  ImageWriterOptions good = Options("good.qvimg", {3});
  good.Disks = {{0, 1, 0, {Partition(0, 0, "x")}}};
  WriteImage(good);
  WriteWholeFile(folder_.File("bad.qvimg"), std::vector<uint8_t>(100, 0x41));
  FolderListing listing = LoadImageFolder(folder_.File("bad.qvimg"), ScanRule::QvimgExact);
  EXPECT_EQ(listing.Message, "'" + folder_.File("bad.qvimg") + "' is corrupt");
  EXPECT_EQ(listing.ChosenFileError, "Invalid File");

  listing = LoadImageFolder(folder_.File("absent.qvimg"), ScanRule::QvimgExact);
  EXPECT_EQ(listing.Message, "'" + folder_.File("absent.qvimg") + "' is corrupt");
  EXPECT_EQ(listing.ChosenFileError, kFileOpenFailed);
}

#ifndef _WIN32
// A terabyte file whose catalogue's first string claims 4 GiB of the hole: once that string
// was allocated whole, and its out-of-memory ended the listing of every image beside it.
void WriteSparseCompanion(const std::string& path) {
  // Identifier, file and backup numbers, then the string's prefix.
  WriteWholeFile(path, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF});
  uint64_t size = uint64_t{1} << 40;
  std::filesystem::resize_file(path, size - 40);
  std::ofstream(path, std::ios::binary | std::ios::app).write(kImageMagic, sizeof kImageMagic);
  std::filesystem::resize_file(path, size);  // version 0, digest zero
}

TEST_F(ImageFolder, CompanionsThatAreNotRegularFilesOrDefeatTheReaderAreSkipped) {
  ImageWriterOptions good = Options("good.qvimg", {5});
  good.Disks = {{0, 1, 0, {Partition(0, 0, "x")}}};
  WriteImage(good);
  ASSERT_EQ(mkfifo(folder_.File("pipe.qvimg").c_str(), 0600), 0);
  std::filesystem::create_directory(folder_.File("folder.qvimg"));
  WriteSparseCompanion(folder_.File("sparse.qvimg"));

  FolderListing listing = LoadImageFolder(folder_.File("good.qvimg"), ScanRule::ImagesAnyCase);
  EXPECT_EQ(listing.Message, "");
  EXPECT_EQ(Labels(listing), std::vector<std::string>{"x"});
  for (const char* chosen : {"pipe.qvimg", "folder.qvimg"}) {  // opened without blocking
    listing = LoadImageFolder(folder_.File(chosen), ScanRule::ImagesAnyCase);
    EXPECT_EQ(listing.ChosenFileError, kFileOpenFailed) << chosen;
  }
}
#endif

TEST_F(ImageFolder, ExtensionCaseMattersOnlyToTheWindowsScan) {
  ImageWriterOptions options = Options("CAPS.QVIMG", {4});
  options.Disks = {{0, 1, 0, {Partition(0, 0, "x")}}};
  WriteImage(options);
  EXPECT_EQ(LoadImageFolder(folder_.File("CAPS.QVIMG"), ScanRule::QvimgExact).Message,
            "'" + folder_.File("CAPS.QVIMG") + "' is corrupt");
  EXPECT_EQ(LoadImageFolder(folder_.File("CAPS.QVIMG"), ScanRule::ImagesAnyCase).Rows.size(), 1u);
}

TEST(ImageFileNames, ScanRules) {
  struct Case {
    const char* Name;
    bool Exact, AnyCase;
  } cases[] = {{"a.qvimg", true, true},  {"a.QVIMG", false, true}, {"a.qvbak", false, true},
               {"a.QvBak", false, true}, {"a.img", false, false},  {".qvimg", true, true},
               {"qvimg", false, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(IsImageFileName(c.Name, ScanRule::QvimgExact), c.Exact) << c.Name;
    EXPECT_EQ(IsImageFileName(c.Name, ScanRule::ImagesAnyCase), c.AnyCase) << c.Name;
  }
}
}  // namespace
