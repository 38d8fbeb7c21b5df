// Image folders for the browse tests, written by the image writer at test time.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "image_writer.h"

// An empty folder below the temporary folder (what an earlier run left there is deleted), with a
// trailing backslash.
std::string FreshImageFolder(const std::string& name);

// A raw partition of size bytes in folder for the writer to read, with made-up contents.
WriterPartition RawPartition(const std::string& folder, const std::string& name, uint64_t size, uint32_t seed);

// Writes the image and deletes its raw partitions; the paths written, the catalogue file last.
std::vector<std::string> WriteImageFiles(const ImageWriterOptions& options);

// Cuts the file to its first half, so that its catalogue is gone.
bool CutInHalf(const std::string& path);
