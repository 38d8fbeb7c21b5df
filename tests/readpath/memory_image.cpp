#include "memory_image.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "cipher.h"
#include "codec_encode.h"

namespace {

void Put(std::vector<uint8_t>& out, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

bool ReadAt(void* context, uint32_t slot, uint64_t offset, uint8_t* buffer, uint32_t length,
            uint32_t* bytesRead) {
  auto* image = static_cast<MemoryImage*>(context);
  if (slot >= image->Files.size()) return false;
  const std::vector<uint8_t>& file = image->Files[slot];
  const uint64_t indexStart = image->Layout.IndexOffset;
  bool isIndex = slot + 1u == image->Files.size() && offset >= indexStart &&
                 offset < image->IndexEntryPosition(image->Layout.BlockCount);
  bool isRaw = slot == image->Layout.RawFileSlot && offset >= image->Layout.RawOffset &&
               offset < image->Layout.RawOffset + image->Layout.RawLength;
  if (isIndex) ++image->IndexReads;
  else if (!isRaw) ++image->StoredReads;
  uint64_t available = offset < file.size() ? file.size() - offset : 0;
  *bytesRead = uint32_t(std::min<uint64_t>(available, length));
  if (*bytesRead) std::memcpy(buffer, file.data() + offset, *bytesRead);
  return true;
}

}  // namespace

uint64_t MemoryImage::IndexEntryPosition(uint32_t block) const {
  return Layout.IndexOffset + uint64_t(block) * IndexEntrySize(&Layout);
}

FileSource MemoryImage::Source() { return {ReadAt, this}; }

MemoryImage MakeMemoryImage(const std::vector<uint8_t>& disk, const MemoryImageShape& shape) {
  MemoryImage image;
  image.Disk = disk;
  image.Files.resize(shape.Slots);
  VirtualDiskLayout& layout = image.Layout;
  layout.FormatVersion = shape.FormatVersion;
  layout.DiskLength = disk.size();
  layout.SectorSize = 512;
  layout.BlockSize = shape.BlockSize;
  layout.Compressed = shape.Method >= 0;
  layout.RawLength = shape.RawLength;
  layout.CipherType = shape.CipherType;
  for (uint32_t i = 0; i < kMaxKeyBytes; ++i) image.Key[i] = uint8_t(i + 1);
  layout.FileCount = shape.Slots;
  layout.RawFileSlot = shape.Slots > 1 ? 1 : 0;

  // Some leading bytes in every file, so that no position is 0 by accident.
  for (auto& file : image.Files) file.assign(100, 0xEE);
  auto& rawFile = image.Files[layout.RawFileSlot];
  layout.RawOffset = rawFile.size();
  rawFile.insert(rawFile.end(), disk.begin(), disk.begin() + shape.RawLength);

  CipherContext cipher{};
  if (shape.CipherType) SetCipherKey(&cipher, image.Key, CipherKeyBits(shape.CipherType));
  CompressWorkspace work;
  const uint64_t blockArea = disk.size() - shape.RawLength;
  layout.BlockCount = uint32_t((blockArea + shape.BlockSize - 1) / shape.BlockSize);

  struct Entry { uint64_t Offset; uint32_t Length; uint8_t Method; uint16_t Slot; };
  std::vector<Entry> entries;
  for (uint32_t i = 0; i < layout.BlockCount; ++i) {
    std::vector<uint8_t> block(shape.BlockSize, 0);
    uint64_t start = shape.RawLength + uint64_t(i) * shape.BlockSize;
    uint64_t count = std::min<uint64_t>(shape.BlockSize, disk.size() - start);
    std::copy_n(disk.begin() + start, count, block.begin());
    uint16_t slot = uint16_t(i % shape.Slots);
    if (std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; })) {
      entries.push_back({0x1234, 0, 0, slot});
      continue;
    }
    std::vector<uint8_t> stored(2 * shape.BlockSize + 64);
    uint32_t length = shape.BlockSize;
    uint8_t method = 0;
    if (shape.Method == 1) {
      length = CompressMethod1(block.data(), shape.BlockSize, stored.data(), stored.size(), &work);
      method = 1;
    } else if (shape.Method == 0) {
      length = CompressByteTokens(block.data(), shape.BlockSize, stored.data(), stored.size(), &work);
    } else {
      std::copy(block.begin(), block.end(), stored.begin());
    }
    if (shape.CipherType) {
      length = (length + 15) / 16 * 16;  // zero padding, then encrypted
      EncryptCbc(&cipher, stored.data(), int32_t(length));
    }
    auto& file = image.Files[slot];
    entries.push_back({file.size(), length, method, slot});
    file.insert(file.end(), stored.begin(), stored.begin() + length);
  }

  auto& last = image.Files.back();
  layout.IndexOffset = last.size();
  std::vector<uint8_t> index;
  for (const Entry& e : entries) {
    if (shape.FormatVersion < 3) {
      Put(index, e.Offset | (uint64_t(e.Slot) << 56), 8);
      Put(index, e.Length | (uint32_t(e.Method) << 24), 4);
    } else {
      Put(index, e.Offset, 8);
      index.insert(index.end(), 16, 0xDD);  // digest: not read
      Put(index, e.Length | (uint32_t(e.Method) << 24), 4);
      Put(index, e.Slot, 2);
    }
  }
  if (shape.FormatVersion < 3) index.insert(index.end(), 16 * entries.size(), 0xDD);
  last.insert(last.end(), index.begin(), index.end());
  return image;
}

std::vector<uint8_t> SampleDisk(uint64_t length, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> disk(length, 0);
  const char* text = "The quick brown fox jumps over the lazy dog. ";
  for (uint64_t at = 0; at < length;) {
    uint64_t run = 500 + random() % 9000;
    int kind = int(random() % 4);
    for (uint64_t i = 0; i < run && at < length; ++i, ++at) {
      switch (kind) {
        case 0: disk[at] = uint8_t(text[at % 45]); break;
        case 1: disk[at] = 0; break;
        case 2: disk[at] = uint8_t(at / 7); break;
        default: disk[at] = uint8_t(random()); break;
      }
    }
  }
  return disk;
}
