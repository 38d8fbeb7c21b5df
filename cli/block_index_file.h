// A partition's block index as stored in its catalogue file, digests included: what verify
// checks blocks against and what the catalogue digest covers.
#pragma once
#include <vector>

#include "catalogue_store.h"

// Throws CommandError when the index cannot be read whole or runs past the end of its file.
std::vector<BlockEntry> ReadBlockIndex(const CImageFile& image, const CPartitionBlocks& blocks);
