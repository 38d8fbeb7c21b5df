// Browse through the real open-file dialog to images written by the writer: the rows the list
// shows, their texts and order, and what the load says when it lists nothing.
#include <windows.h>
// After windows.h.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "dialog_ids.h"
#include "gui_images.h"
#include "harvesta_process.h"
#include "remote_window.h"

namespace {

constexpr uint32_t kBackupTime = 1710510300;  // 2024-03-15 13:45 UTC
constexpr ImageId kFirstId = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
constexpr ImageId kSecondId = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};

ImageWriterOptions Options(const std::string& path, const ImageId& id) {
  ImageWriterOptions options;
  options.OutputPath = path;
  options.Id = id;
  options.BackupTime = kBackupTime;
  options.Disks.emplace_back();
  return options;
}

WriterPartition Partition(const std::string& folder, const std::string& label, char letter, uint8_t type,
                          uint64_t size, uint32_t sectorsPerCluster, uint64_t freeBytes, int32_t major,
                          uint16_t minor) {
  WriterPartition partition = RawPartition(folder, label + std::to_string(major) + "-" + std::to_string(minor),
                                           size, uint32_t(size) + minor);
  partition.Label = label;
  partition.DriveLetter = letter;
  partition.Type = type;
  partition.SectorsPerCluster = sectorsPerCluster;
  partition.FreeBytes = freeBytes;
  partition.MajorOrder = major;
  partition.MinorOrder = minor;
  return partition;
}

// One disk, three partitions written out of their listing order (major × 100 + minor).
std::string WriteSeveralPartitions() {
  const std::string folder = FreshImageFolder("several-partitions");
  ImageWriterOptions options = Options(folder + "backup.qvimg", kFirstId);
  options.CompressionLevel = 1;
  auto& partitions = options.Disks[0].Partitions;
  partitions.push_back(Partition(folder, "System", 'C', 0x07, 1052672, 8, 524288, 2, 0));
  partitions.push_back(Partition(folder, "", 0, 0x0C, 65536, 1, 1024, 0, 5));
  partitions.back().Warning = true;
  partitions.push_back(Partition(folder, "Data", 'E', 0x83, 8192, 2, 0, 1, 0));
  return WriteImageFiles(options).back();
}

// Two unrelated images in one folder; the second one is chosen.
std::string WriteTwoImages() {
  const std::string folder = FreshImageFolder("two-images");
  ImageWriterOptions alpha = Options(folder + "alpha.qvimg", kFirstId);
  alpha.Disks[0].Partitions.push_back(Partition(folder, "Alpha", 'D', 0x07, 65536, 8, 0, 0, 0));
  WriteImageFiles(alpha);
  ImageWriterOptions beta = Options(folder + "beta.qvimg", kSecondId);
  beta.FullCopy = true;
  beta.CompressionLevel = 2;
  beta.Disks[0].Partitions.push_back(Partition(folder, "Beta", 'F', 0x07, 65536, 8, 32768, 0, 7));
  beta.Disks[0].Partitions.push_back(Partition(folder, "Beta", 'G', 0x0B, 65536, 8, 0, 0, 3));
  return WriteImageFiles(beta).back();
}

// A set spread over three files, its middle file missing.
std::string WriteThreeFilesOneMissing() {
  const std::string folder = FreshImageFolder("three-files");
  ImageWriterOptions options = Options(folder + "split.qvimg", kFirstId);
  options.BlockSize = 16384;
  options.SplitSize = 3 * 16384;
  options.Disks[0].Partitions.push_back(Partition(folder, "Split", 0, 0x07, 9 * 16384 + 1536, 8, 0, 0, 0));
  const std::vector<std::string> files = WriteImageFiles(options);
  if (files.size() != 3) return "written as " + std::to_string(files.size()) + " files";
  DeleteFileA(files[1].c_str());
  return files.back();
}

// A damaged file chosen next to a sound image.
std::string WriteDamagedBesideSound() {
  const std::string folder = FreshImageFolder("damaged");
  ImageWriterOptions sound = Options(folder + "sound.qvimg", kFirstId);
  sound.Disks[0].Partitions.push_back(Partition(folder, "Sound", 0, 0x07, 65536, 8, 0, 0, 0));
  WriteImageFiles(sound);
  ImageWriterOptions damaged = Options(folder + "damaged.qvimg", kSecondId);
  damaged.Disks[0].Partitions.push_back(Partition(folder, "Damaged", 0, 0x07, 65536, 8, 0, 0, 0));
  const std::string path = WriteImageFiles(damaged).back();
  return CutInHalf(path) ? path : "not cut: " + path;
}

// The open-file dialog offers it, and Windows names ignore letter case.
std::string WriteUpperCaseName() {
  const std::string folder = FreshImageFolder("upper-case");
  ImageWriterOptions options = Options(folder + "BACKUP.QVIMG", kSecondId);
  options.Disks[0].Partitions.push_back(Partition(folder, "Upper", 'U', 0x07, 65536, 8, 0, 0, 0));
  return WriteImageFiles(options).back();
}

// A row's texts, the backup date left out (it follows the locale): "" stands in its place.
struct ExpectedRow {
  std::vector<std::string> Cells;
  int Picture;
};

struct BrowseCase {
  const char* Name;
  std::string (*Write)();
  std::vector<ExpectedRow> Rows;
  const char* Message;  // %s: the chosen path; nullptr when the load shows none
};

const BrowseCase kCases[] = {
    {"several-partitions", WriteSeveralPartitions,
     {{{"<No Name>", "", "0123456789ABCDEF", "64 KB", "63 KB", "1024 B", "    FAT32 (LBA)", "Medium", "1", "Yes"}, 5},
      {{"Data (E:)", "", "0123456789ABCDEF", "8 KB", "8 KB", "0 B", "    ext2/3", "Medium", "1", "Yes"}, 3},
      {{"System (C:)", "", "0123456789ABCDEF", "1.00 MB", "516 KB", "512 KB", "    NTFS", "Medium", "1", "Yes"}, 3}},
     nullptr},
    {"two-images", WriteTwoImages,
     {{{"Beta (G:)", "", "FEDCBA9876543210", "64 KB", "64 KB", "0 B", "    FAT32", "High", "1", "No"}, 3},
      {{"Beta (F:)", "", "FEDCBA9876543210", "64 KB", "32 KB", "32 KB", "    NTFS", "High", "1", "No"}, 3}},
     nullptr},
    {"three-files-one-missing", WriteThreeFilesOneMissing, {},
     "'%s' is part of a multi file image and at least one of the files does not exists in this directory"},
    {"damaged", WriteDamagedBesideSound, {}, "'%s' is corrupt"},
    {"upper-case-name", WriteUpperCaseName,
     {{{"Upper (U:)", "", "FEDCBA9876543210", "64 KB", "64 KB", "0 B", "    NTFS", "None", "1", "Yes"}, 3}},
     nullptr},
};

std::string WithPath(const char* message, const std::string& path) {
  std::string text = message;
  const size_t at = text.find("%s");
  return at == std::string::npos ? text : text.replace(at, 2, path);
}

// One program browses to each case in turn: every load replaces what the last one listed.
TEST(Browse, ListsTheChosenBackupsPartitionsOrToldWhyNot) {
  HarvestaProcess harvesta;
  ASSERT_EQ(harvesta.Error(), "");
  const HWND list = harvesta.Item(kImageList);
  bool firstShot = true;
  for (const BrowseCase& test : kCases) {
    SCOPED_TRACE(test.Name);
    const std::string path = test.Write();
    ASSERT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES) << path;
    const std::string message =
        harvesta.Browse(path, firstShot ? "open-file-dialog" : "", std::string("message-") + test.Name);
    firstShot = false;
    EXPECT_EQ(message, test.Message ? WithPath(test.Message, path) : "");

    const std::vector<ListRow> rows = ListRows(list);
    ASSERT_EQ(rows.size(), test.Rows.size());
    EXPECT_EQ(Text(harvesta.Item(kImagePath)), rows.empty() ? kBrowseHint : path);
    for (size_t index = 0; index < rows.size(); ++index) {
      SCOPED_TRACE(index);
      std::vector<std::string> cells = rows[index].Cells;
      ASSERT_EQ(cells.size(), 10u);
      // One backup run: one date, in the locale's short form without seconds.
      EXPECT_EQ(cells[1], rows[0].Cells[1]);
      EXPECT_NE(cells[1].find("2024"), std::string::npos) << cells[1];
      EXPECT_EQ(std::count(cells[1].begin(), cells[1].end(), ':'), 1) << cells[1];
      cells[1] = "";
      EXPECT_EQ(cells, test.Rows[index].Cells);
      EXPECT_EQ(rows[index].Picture, test.Rows[index].Picture);
      // The first row is the one Start uses.
      EXPECT_EQ(rows[index].Selected, index == 0);
      EXPECT_EQ(rows[index].Focused, index == 0);
    }
    if (!rows.empty()) {
      EXPECT_EQ(Send(list, LVM_GETSELECTIONMARK), 0);
    }
    if (std::string(test.Name) == "several-partitions") Screenshot(harvesta.Dialog(), "main-dialog-loaded");
  }
  EXPECT_EQ(harvesta.Close(), 0);
}

// Sized to fit header and contents, in the list's own font.
TEST(Browse, EveryColumnFitsItsHeaderAndCells) {
  HarvestaProcess harvesta;
  ASSERT_EQ(harvesta.Error(), "");
  ASSERT_EQ(harvesta.Browse(WriteSeveralPartitions()), "");
  const HWND list = harvesta.Item(kImageList);
  const std::vector<std::string> headers = ListHeaders(list);
  const std::vector<ListRow> rows = ListRows(list);
  const std::vector<int> widths = ListColumnWidths(list);
  ASSERT_EQ(widths.size(), headers.size());
  for (size_t column = 0; column < widths.size(); ++column) {
    int widest = ListStringWidth(list, headers[column]);
    for (const ListRow& row : rows) widest = std::max(widest, ListStringWidth(list, row.Cells[column]));
    EXPECT_GE(widths[column], widest) << headers[column];
  }
  EXPECT_EQ(harvesta.Close(), 0);
}

}  // namespace
