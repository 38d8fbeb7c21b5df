// Images for the driver to serve: a partition's bytes made up at test time, written by the
// image writer in one shape, loaded back and turned into the mount record Harvesta would send.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "block_reader.h"
#include "image_writer.h"

struct ImageShape {
  const char* Name;
  uint16_t Version;
  int32_t Compression;  // 0 none; 1 and 2 compress with Method
  BlockMethod Method;
  uint16_t CipherType;  // 0: no password
  uint64_t SplitSize;   // 0: one file
  uint64_t RawRegion;   // leading bytes stored unblocked
  uint32_t BlockSize;
};

struct TestImage {
  std::string Folder;
  std::vector<uint8_t> Volume;     // what the virtual disk must read as
  std::vector<std::string> Files;  // image files in file number order
  std::vector<uint8_t> Record;     // mount record for the partition
  std::string Error;               // empty when all of the above worked
};

// The password of the shapes with a cipher.
inline constexpr char kTestImagePassword[] = "Correct horse battery staple, 1234";

TestImage MakeTestImage(const ImageShape& shape);

// Deletes the image's files and folder.
void RemoveTestImage(const TestImage& image);

// A partition of size bytes: incompressible stretches, text, and whole zero blocks.
std::vector<uint8_t> MakeVolumeBytes(uint64_t size, uint32_t blockSize, uint32_t seed);

// Where the image keeps block's stored bytes, found through the read path's own index lookup.
// False when the block cannot be located.
bool LocateStoredBlock(const TestImage& image, uint32_t block, BlockLocation* location);
// Flips the last stored byte of block (the byte-token stream's end marker) in its file and
// returns whether the stored bytes no longer decode.
bool BreakStoredBlock(const TestImage& image, uint32_t block);
