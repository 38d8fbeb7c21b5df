// How far into each data file of a set the catalogue places data, and whether each file is
// there and reaches that far: what verify says of a file cut short or gone.
#pragma once
#include <cstdint>
#include <map>
#include <vector>

#include "verify.h"

// By file number: how far into the file the data placed there reaches.
using FileExtents = std::map<uint16_t, uint64_t>;

void NoteExtent(FileExtents& extents, uint16_t number, uint64_t end);

// The set's own checks are files[first, end): each is given its expected length, and a problem
// when it is shorter; a file the extents name that none of them is, is appended as missing.
void CheckFileLengths(const FileExtents& extents, std::vector<FileCheck>& files, size_t first,
                      size_t end);
