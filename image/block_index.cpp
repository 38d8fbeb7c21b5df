#include "block_index.h"

#include <cstring>
#include <memory>

#include "block_reader.h"
#include "file_io.h"
#include "image_format.h"

std::optional<std::vector<BlockEntry>> ReadBlockIndex(const CImageFile& image,
                                                      const CPartitionBlocks& blocks,
                                                      std::string* error) {
  auto fail = [&](std::string text) {
    *error = std::move(text);
    return std::nullopt;
  };
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenFileForReading(image.FilePath), std::fclose);
  const uint64_t count = blocks.BlockCount;
  const uint64_t length = blocks.IndexSize(image.Version);
  // The count comes from the file: what it allocates must first be shown to be there.
  const int64_t fileSize = file && SeekFile(file.get(), 0, SEEK_END) == 0 ? TellFile(file.get()) : -1;
  if (fileSize < 0) return fail("cannot read " + image.FilePath);
  if (blocks.IndexOffset > uint64_t(fileSize) || length > uint64_t(fileSize) - blocks.IndexOffset)
    return fail("the block index (" + std::to_string(count) + " entries) runs past the end of " +
                image.FilePath);
  std::vector<uint8_t> bytes(length);
  if (SeekFile(file.get(), int64_t(blocks.IndexOffset), SEEK_SET) != 0 ||
      std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
    return fail("cannot read the block index in " + image.FilePath);

  std::vector<BlockEntry> entries(count);
  // Old versions: 12-byte entries, then the digests in order.
  const bool oldLayout = image.Version < kFirstVersionWithEntryDigests;
  const uint32_t entrySize = IndexEntrySizeOf(image.Version);
  for (uint64_t i = 0; i < count; ++i) {
    BlockEntry& entry = entries[i];
    const uint8_t* at = bytes.data() + i * entrySize;
    const IndexEntryFields fields = LoadIndexEntry(at, image.Version);
    entry.Offset = fields.FileOffset;
    entry.LengthAndMethod = fields.LengthAndMethod;
    entry.FileNumber = fields.Slot;
    const uint8_t* digest = oldLayout ? bytes.data() + count * kIndexEntrySizeOld + i * kBlockDigestSize
                                      : at + kEntryDigestOffset;
    std::memcpy(entry.BlockDigest.data(), digest, kBlockDigestSize);
  }
  return entries;
}
