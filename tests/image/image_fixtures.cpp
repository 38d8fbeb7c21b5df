#include "image_fixtures.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "cipher.h"
#include "codec.h"
#include "password.h"

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  static int counter = 0;
  std::random_device random;
  path_ = fs::temp_directory_path() /
          ("harvesta-image-" + std::to_string(random()) + "-" + std::to_string(counter++));
  fs::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> MakeVolumeBytes(size_t length, uint32_t seed) {
  std::vector<uint8_t> bytes(length, 0);
  std::mt19937 random(seed);
  const std::string text = "The quick brown fox jumps over the lazy dog. ";
  for (size_t at = 0; at < length; at += 4096) {
    size_t end = std::min(length, at + 4096);
    switch ((at / 4096 + seed) % 4) {
      case 0: break;  // zeros
      case 1:
        for (size_t i = at; i < end; ++i) bytes[i] = static_cast<uint8_t>(text[i % text.size()]);
        break;
      default:
        for (size_t i = at; i < end; ++i) bytes[i] = static_cast<uint8_t>(random());
    }
  }
  return bytes;
}

std::vector<ImageSet> LoadSets(const std::vector<std::string>& paths) {
  std::vector<ImageSet> sets;
  for (const auto& path : paths) AddImageToSets(sets, LoadImageFile(path));
  return sets;
}

namespace {
struct IndexEntry {
  uint64_t Offset;
  uint32_t LengthAndMethod;
  uint16_t FileNumber;
};

uint64_t Le(const uint8_t* p, int width) {
  uint64_t v = 0;
  for (int i = width; i-- > 0;) v = v << 8 | p[i];
  return v;
}

std::vector<IndexEntry> ReadIndex(const CImageFile& image, const CPartitionBlocks& blocks) {
  std::vector<uint8_t> file = ReadWholeFile(image.FilePath);
  const uint8_t* index = file.data() + blocks.IndexOffset;
  std::vector<IndexEntry> entries;
  for (uint32_t i = 0; i < blocks.BlockCount; ++i) {
    if (image.Version <= 2) {
      uint64_t word = Le(index + 12 * i, 8);
      entries.push_back({word & 0x00FFFFFFFFFFFFFFull, static_cast<uint32_t>(Le(index + 12 * i + 8, 4)),
                         static_cast<uint16_t>(word >> 56)});
    } else {
      const uint8_t* e = index + 30 * i;
      entries.push_back({Le(e, 8), static_cast<uint32_t>(Le(e + 24, 4)), static_cast<uint16_t>(Le(e + 28, 2))});
    }
  }
  return entries;
}

std::vector<uint8_t> FileOfNumber(const ImageSet& set, uint16_t number) {
  CStdString path;
  EXPECT_TRUE(LocateFileNumber(set, number, path)) << "file number " << number;
  return ReadWholeFile(path);
}
}  // namespace

std::vector<uint8_t> ReadVolumeBack(const ImageSet& set, const CImageFile& image,
                                    const ImagePartition& partition) {
  const VolumeInfo& volume = partition.Volume;
  const CPartitionBlocks& blocks = partition.Blocks;
  uint32_t blockSize = volume.BlockSize();
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> rawFile = FileOfNumber(set, blocks.RawRegionFile);
  uint64_t rawLength = volume.RawRegionLength();
  bytes.insert(bytes.end(), rawFile.begin() + blocks.RawRegionOffset,
               rawFile.begin() + blocks.RawRegionOffset + rawLength);

  KeyField key = MakeKeyField(image);
  CipherContext cipher{};
  if (key.CipherType) SetCipherKey(&cipher, key.Key.data(), CipherKeyBits(key.CipherType));
  for (const IndexEntry& entry : ReadIndex(image, blocks)) {
    uint32_t length = entry.LengthAndMethod & 0xFFFFFF;
    std::vector<uint8_t> block(blockSize, 0);
    if (length) {
      EXPECT_LE(length, 2 * blockSize);
      std::vector<uint8_t> file = FileOfNumber(set, entry.FileNumber);
      std::vector<uint8_t> stored(file.begin() + entry.Offset, file.begin() + entry.Offset + length);
      if (key.CipherType) DecryptCbc(&cipher, stored.data(), static_cast<int32_t>(stored.size()));
      if (image.CompressionLevel) {
        uint32_t capacity = blockSize;
        // The padding after a compressed stream is part of the stored length: trim it the way
        // the byte-token decoder needs (its end marker ends the stream).
        int32_t result = DecompressBlock(static_cast<uint8_t>(entry.LengthAndMethod >> 24),
                                         stored.data(), length, block.data(), &capacity);
        EXPECT_TRUE(result == kDecodeOk || result == kInputNotConsumed) << result;
      } else {
        std::copy_n(stored.begin(), blockSize, block.begin());
      }
    }
    bytes.insert(bytes.end(), block.begin(), block.end());
  }
  return bytes;
}
