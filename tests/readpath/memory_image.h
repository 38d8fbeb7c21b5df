// A partition stored the way an image stores it, in memory: raw region, blocks spread over
// several file slots, block index in the last slot, optional compression and encryption.
// Gives the read path real stored blocks without the image writer.
#pragma once
#include <cstdint>
#include <vector>

#include "block_reader.h"

struct MemoryImageShape {
  uint16_t FormatVersion = 6;
  uint32_t BlockSize = 4096;
  uint64_t RawLength = 0;
  int Method = -1;          // -1 uncompressed, 1 method 1, 0 byte tokens
  uint16_t CipherType = 0;  // key: bytes 1, 2, 3, ...
  uint16_t Slots = 1;
};

struct MemoryImage {
  VirtualDiskLayout Layout{};
  uint8_t Key[kMaxKeyBytes] = {};
  std::vector<std::vector<uint8_t>> Files;
  std::vector<uint8_t> Disk;  // the bytes a reader must return
  uint64_t IndexEntryPosition(uint32_t block) const;
  uint32_t StoredReads = 0;   // reads outside the raw region and the index
  uint32_t IndexReads = 0;

  FileSource Source();
};

// disk's length need not be a multiple of the block size: the last block is padded with zeros.
// Blocks of zeros are not stored (stored length 0).
MemoryImage MakeMemoryImage(const std::vector<uint8_t>& disk, const MemoryImageShape& shape);

// Bytes that look like a file system: text, runs of zeros, counters and noise.
std::vector<uint8_t> SampleDisk(uint64_t length, uint32_t seed);
