#include "block_index_file.h"

#include <cstring>
#include <memory>

#include "commands.h"
#include "file_io.h"

namespace {

uint64_t Load(const uint8_t* bytes, int width) {
  uint64_t value = 0;
  for (int i = width; i-- > 0;) value = value << 8 | bytes[i];
  return value;
}

}  // namespace

std::vector<BlockEntry> ReadBlockIndex(const CImageFile& image, const CPartitionBlocks& blocks) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenFileForReading(image.FilePath), std::fclose);
  const uint64_t count = blocks.BlockCount;
  std::vector<uint8_t> bytes(count * BlockEntrySize(image.Version));
  if (!file || SeekFile(file.get(), int64_t(blocks.IndexOffset), SEEK_SET) != 0 ||
      std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
    throw CommandError("cannot read the block index in " + image.FilePath);

  std::vector<BlockEntry> entries(count);
  for (uint64_t i = 0; i < count; ++i) {
    BlockEntry& entry = entries[i];
    if (image.Version <= 2) {  // 12-byte entries, then the digests in the same order
      const uint8_t* at = bytes.data() + i * 12;
      uint64_t location = Load(at, 8);
      entry.Offset = location & 0x00FFFFFFFFFFFFFFull;
      entry.FileNumber = uint16_t(location >> 56);
      entry.LengthAndMethod = uint32_t(Load(at + 8, 4));
      std::memcpy(entry.BlockDigest.data(), bytes.data() + count * 12 + i * 16, 16);
    } else {
      const uint8_t* at = bytes.data() + i * 30;
      entry.Offset = Load(at, 8);
      std::memcpy(entry.BlockDigest.data(), at + 8, 16);
      entry.LengthAndMethod = uint32_t(Load(at + 24, 4));
      entry.FileNumber = uint16_t(Load(at + 28, 2));
    }
  }
  return entries;
}
