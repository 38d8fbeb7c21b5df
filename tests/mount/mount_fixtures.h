// Images of every shape the writer makes, written at test time, and the mount records of their
// partitions.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image_fixtures.h"
#include "mount_request.h"

struct ImageShape {
  const char* Name;
  int32_t Compression = 0;
  BlockMethod Method = BlockMethod::Method1;
  uint16_t Cipher = 0;  // 0: no password
  uint64_t SplitSize = 0;
  uint64_t RawLength = 0;
  uint64_t VolumeLength = 300000;
  uint32_t BlockSize = 16384;
  uint16_t Version = 6;
};

struct WrittenImage {
  std::vector<uint8_t> Source;  // the volume's bytes
  std::vector<std::string> Paths;
  std::string Password;
};

// partitions copies of one volume of text, random bytes and zeros, its block 4 all zeros.
WrittenImage WriteShape(const TempFolder& folder, const ImageShape& shape, int partitions = 1);
// An image of the given volume's bytes (a real file system, say) in the shape's form; its
// VolumeLength is not used.
WrittenImage WriteVolumeImage(const TempFolder& folder, std::vector<uint8_t> volume, const ImageShape& shape,
                              int partitions = 1);

// The record of partition index of the written set, its values changed by edit first.
std::vector<uint8_t> RecordFor(const WrittenImage& image, size_t partition = 0,
                               const std::function<void(MountValues&)>& edit = {});
