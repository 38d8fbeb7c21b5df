#include "block_index_file.h"

#include <cstring>
#include <memory>

#include "block_reader.h"
#include "commands.h"
#include "file_io.h"

std::vector<BlockEntry> ReadBlockIndex(const CImageFile& image, const CPartitionBlocks& blocks) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenFileForReading(image.FilePath), std::fclose);
  const uint64_t count = blocks.BlockCount;
  std::vector<uint8_t> bytes(count * IndexBytesPerBlock(image.Version));
  if (!file || SeekFile(file.get(), int64_t(blocks.IndexOffset), SEEK_SET) != 0 ||
      std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
    throw CommandError("cannot read the block index in " + image.FilePath);

  std::vector<BlockEntry> entries(count);
  for (uint64_t i = 0; i < count; ++i) {
    BlockEntry& entry = entries[i];
    const bool oldLayout = image.Version <= 2;  // 12-byte entries, then the digests in order
    const uint8_t* at = bytes.data() + i * (oldLayout ? 12 : 30);
    const IndexEntryFields fields = LoadIndexEntry(at, image.Version);
    entry.Offset = fields.FileOffset;
    entry.LengthAndMethod = fields.LengthAndMethod;
    entry.FileNumber = fields.Slot;
    std::memcpy(entry.BlockDigest.data(), oldLayout ? bytes.data() + count * 12 + i * 16 : at + 8, 16);
  }
  return entries;
}
