// The values a mount of one partition takes from its loaded image: what the mount record is
// built from.
#pragma once
#include <cstdint>
#include <vector>

#include "image_set.h"
#include "password.h"

struct MountFile {
  uint16_t Number = 0;
  CStdString Path;  // empty when no member of the set has the number
};

struct MountValues {
  uint16_t FormatVersion = 0;
  uint64_t DiskLength = 0;
  uint32_t SectorSizeUnits = 0;  // bytes per sector / 512
  uint32_t BlockCount = 0;
  uint32_t BlockSize = 0;
  int32_t Compressed = 0;        // the image's compression level
  uint64_t IndexOffset = 0;
  uint64_t RawRegionLength = 0;
  uint64_t RawRegionOffset = 0;
  uint16_t RawRegionFile = 0;
  uint32_t FileCount = 0;        // catalogue file's number + 1
  std::vector<MountFile> Files;  // file references in order, then the catalogue file if beyond
  uint16_t CatalogueNumber = 0;
  CStdString CataloguePath;
  KeyField Key;                  // from image.Password (set it once PasswordMatches accepts it)
  uint32_t PasswordFlag = 0;
  Digest PasswordDigest{};
};

// image is the catalogue file in set that holds partition.
MountValues MakeMountValues(const ImageSet& set, const CImageFile& image,
                            const ImagePartition& partition);
