// Serialization of a catalogue in the storing direction, for the image writer: the file form,
// and the form the catalogue digest is computed over.
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
