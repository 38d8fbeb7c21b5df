// The partition list's load rules, independent of any user interface: scan the chosen file's
// folder, read every image file into sets, find the chosen file's backup and list the
// partitions of its complete catalogue files, sorted.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "image_set.h"

// Which folder entries are image files.
enum class ScanRule {
  QvimgExact,        // names ending ".qvimg", compared with letter case (the Windows list)
  ImagesAnyCase,     // ".qvimg" or ".qvbak" in any letter case (the Linux command)
};
bool IsImageFileName(const std::string& name, ScanRule rule);

// Names (not paths) of a folder's regular files; empty when the folder cannot be read.
std::vector<std::string> ListFolderNames(const std::string& folder);

struct PartitionRow {
  const CImageFile* Image = nullptr;
  const ImagePartition* Partition = nullptr;
};

struct FolderListing {
  std::vector<ImageSet> Sets;     // owns every image the rows point into
  std::vector<PartitionRow> Rows; // list order: newest backup first, then by order numbers
  std::string Message;            // empty when rows were found, else the list's message
  std::string ChosenFileError;    // the reader's text when the chosen file could not be read
};

// The backup the chosen file belongs to: its set's identifier and its backup number.
bool FindChosenBackup(const FolderListing& listing, const std::string& chosenPath, ImageId& id,
                      uint16_t& backupNumber);
// Adds the rows of that backup's catalogue files, in list order. The list shows complete
// catalogues only; evenIncomplete adds those whose set lacks a file too, for whoever reports
// which files are missing and checks what the present ones hold.
void AddBackupRows(FolderListing& listing, const ImageId& id, uint16_t backupNumber,
                   bool evenIncomplete);

// folderNames lists the folder; ListFolderNames is the real one.
FolderListing LoadImageFolder(
    const std::string& chosenPath, ScanRule rule,
    const std::function<std::vector<std::string>(const std::string&)>& folderNames =
        ListFolderNames);
