// The files a backup's catalogues name that its set lacks in the folder, and why each one is
// lacking: what the list's "at least one of the files does not exists" leaves unsaid, for the
// Linux command's messages and for verify, which still checks the partitions that lack none.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "partition_list.h"

struct LackingSetFile {
  enum class Why { Missing, Folder, Unreadable, Truncated, NotAnImage, OtherBackup, NotScanned };
  uint16_t Number = 0;
  std::string Path;  // beside the chosen file; empty when the catalogue names no file (version < 4)
  Why Reason = Why::Missing;
  std::string Detail;            // the system's reason (Unreadable), the reader's text (NotAnImage)
  uint64_t Size = 0;             // Truncated: bytes in the file
  uint64_t ExpectedAtLeast = 0;  // Truncated: what the catalogue places in it, and a trailer

  // One clause: "'set-01.qvimg' is truncated: 30000 bytes, at least 60048 expected".
  std::string Text() const;
};

// The lacking files of the chosen file's backup in file number order; empty when it lacks none
// or when the chosen file belongs to no set of the listing.
std::vector<LackingSetFile> LackingSetFiles(const FolderListing& listing, const std::string& chosenPath);

// A catalogue file of the listing that names path (by file name) as a file of its set that the
// set lacks: what a chosen file that cannot be read as an image file may be. Null when none does.
const CImageFile* CatalogueLacking(const FolderListing& listing, const std::string& path);

// Whether the partition's set holds every data file the partition names.
bool PartitionFilesPresent(const FolderListing& listing, const ImagePartition& partition);
