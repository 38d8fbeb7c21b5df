// ImageSet: the files of one backup set (one image identifier), split into catalogue files
// (those carrying disks) and the others, each list in ascending file number order.
#pragma once
#include <memory>
#include <vector>

#include "image_file.h"

struct ImageSet {
  ImageId Id{};
  std::vector<std::unique_ptr<CImageFile>> CatalogueFiles;
  std::vector<std::unique_ptr<CImageFile>> OtherFiles;
};

// Adds image to the first set with its identifier (a new set at the end when none has it).
// Returns false, and drops the image, when its list already holds that file number.
bool AddImageToSets(std::vector<ImageSet>& sets, std::unique_ptr<CImageFile> image);

// The set with the identifier; null when sets hold none.
const ImageSet* FindSet(const std::vector<ImageSet>& sets, const ImageId& id);

// Catalogue files first, then the others. Returns false and leaves path unchanged when no
// member has the number; otherwise sets path and returns whether the file opens for reading.
bool LocateFileNumber(const ImageSet& set, uint16_t number, CStdString& path);

// True when every file reference of every partition of image names a member of set.
bool AllFilesPresent(const ImageSet& set, const CImageFile& image);

// Matches PathBaseName of path against each member's, ignoring case; catalogue files first.
bool FindImageByPath(const ImageSet& set, const CStdString& path, ImageId& id,
                     uint16_t& backupNumber);
