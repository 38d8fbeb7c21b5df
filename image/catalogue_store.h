// Serialization of a catalogue in the storing direction: the file form the image writer stores,
// and the catalogue digest the writer stores and verify recomputes.
#pragma once
#include <cstdint>
#include <vector>

#include "image_file.h"

struct BlockEntry {
  uint64_t Offset = 0;
  Digest BlockDigest{};
  uint32_t LengthAndMethod = 0;  // bits 0-23 stored length, 24-31 method byte
  uint16_t FileNumber = 0;
};

enum class CatalogueForm {
  File,    // as stored in a file of image.Version
  Digest,  // whole first tracks, 30-byte index entries
};

// Fields 1 to 27 of image's catalogue. indexes holds one block index per partition, in disk
// and partition order; image.CatalogueOffset is written as field 25.
std::vector<uint8_t> StoreCatalogue(const CImageFile& image,
                                    const std::vector<std::vector<BlockEntry>>& indexes,
                                    CatalogueForm form);

// MD5 of the digest form of image's catalogue as a file of version would hold it: a file's own
// version, or 3 for a version-4 file that carries its version-3 digest.
Digest CatalogueDigest(const CImageFile& image, const std::vector<std::vector<BlockEntry>>& indexes,
                       uint16_t version);
