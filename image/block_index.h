// A partition's block index as stored in its catalogue file, digests included: what verify
// checks blocks against and what the catalogue digest covers.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "catalogue_store.h"

// nullopt, with *error saying why, when the index cannot be read whole or runs past the end of
// its file. Allocates nothing before the entries are known to be in the file.
std::optional<std::vector<BlockEntry>> ReadBlockIndex(const CImageFile& image,
                                                      const CPartitionBlocks& blocks,
                                                      std::string* error);
