#include "block_reader.h"

#include "codec.h"

namespace {

constexpr uint32_t kCipherBlock = 16;

// Reads exactly length bytes or fails: a short read is never passed on as data.
ReadStatus ReadExactly(const BlockReader& reader, uint32_t slot, uint64_t offset, uint8_t* buffer,
                       uint32_t length) {
  if (slot >= reader.Layout.FileCount) return kReadDataError;
  uint32_t bytesRead = 0;
  if (!reader.Files.ReadAt(reader.Files.Context, slot, offset, buffer, length, &bytesRead))
    return kReadFileFailed;
  return bytesRead == length ? kReadOk : kReadFileFailed;
}

// Length of a byte-token stream without the zero bytes that encryption padded after its end
// marker. The marker is a long-match token with distance 0 and ends in c0, c1 where c1 = 0 and
// c0 is 0x00, 0x40, 0x80 or 0xC0; candidates are tried in turn by the caller.
uint32_t StreamEndCandidates(const uint8_t* input, uint32_t length, uint32_t candidates[2]) {
  uint32_t last = length;
  while (last > 0 && input[last - 1] == 0 && length - last < kCipherBlock + 2) --last;
  if (last == 0) return 0;
  uint32_t q = last - 1;  // last nonzero byte
  uint32_t count = 0;
  // Either q is the last byte before c0 = c1 = 0, or q is a nonzero c0 followed by c1.
  if (q + 3 <= length && length - (q + 3) < kCipherBlock) candidates[count++] = q + 3;
  if ((input[q] & 63) == 0 && q + 2 <= length && length - (q + 2) < kCipherBlock)
    candidates[count++] = q + 2;
  return count;
}

ReadStatus Decompress(const BlockReader& reader, uint8_t method, uint32_t storedLength,
                      uint8_t* output, uint32_t* available) {
  const uint8_t* input = reader.ReadBuffer;
  uint32_t ends[2] = {storedLength, 0};
  uint32_t count = 1;
  // Encryption padded a byte-token stream with zeros: try where the stream may end.
  if (method != 1 && reader.Layout.CipherType != 0) count = StreamEndCandidates(input, storedLength, ends);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t produced = reader.Layout.BlockSize;  // the decoder produces no more than this
    if (DecompressBlock(method, input, ends[i], output, &produced) == kDecodeOk) {
      *available = produced;
      return kReadOk;
    }
  }
  return kReadDataError;
}

DecodedBlockSlot* FindCached(BlockReader& reader, uint32_t block) {
  for (uint32_t i = 0; i < reader.DecodedBlockCount; ++i) {
    DecodedBlockSlot& slot = reader.Slots[i];
    if (slot.LastUse != 0 && slot.Block == block) return &slot;
  }
  return nullptr;
}

DecodedBlockSlot* LeastRecentlyUsed(BlockReader& reader) {
  DecodedBlockSlot* oldest = &reader.Slots[0];
  for (uint32_t i = 1; i < reader.DecodedBlockCount; ++i)
    if (reader.Slots[i].LastUse < oldest->LastUse) oldest = &reader.Slots[i];
  return oldest;
}

uint8_t* SlotData(BlockReader& reader, const DecodedBlockSlot* slot) {
  return reader.DecodedBlocks + uint64_t(slot - reader.Slots) * reader.Layout.BlockSize;
}

ReadStatus ReadRaw(BlockReader& reader, uint64_t offset, uint32_t length, uint8_t* destination) {
  const VirtualDiskLayout& layout = reader.Layout;
  if (SumOverflows(layout.RawOffset, offset)) return kReadBadRequest;
  return ReadExactly(reader, layout.RawFileSlot, layout.RawOffset + offset, destination, length);
}

ReadStatus ReadBlocks(BlockReader& reader, uint64_t offset, uint32_t length, uint8_t* destination) {
  const VirtualDiskLayout& layout = reader.Layout;
  BlockSpan span;
  ReadStatus status = BlocksOfRange(&layout, offset, length, &span);
  if (status != kReadOk) return status;
  uint32_t from = span.FirstOffset;
  uint32_t done = 0;
  for (uint32_t block = span.First; done < length; ++block) {
    DecodedBlockSlot* slot = FindCached(reader, block);
    if (slot == nullptr) {
      slot = LeastRecentlyUsed(reader);
      slot->LastUse = 0;  // empty until the decode succeeds
      uint32_t available = 0;
      status = DecodeBlock(&reader, block, SlotData(reader, slot), &available);
      if (status != kReadOk) return status;
      slot->Block = block;
      slot->Available = available;
    }
    slot->LastUse = ++reader.UseCounter;
    uint32_t count = layout.BlockSize - from;
    if (count > length - done) count = length - done;
    if (from + count > slot->Available) return kReadDataError;  // the block came up short
    __builtin_memcpy(destination + done, SlotData(reader, slot) + from, count);
    done += count;
    from = 0;
  }
  return kReadOk;
}

}  // namespace

uint64_t BlockReaderWorkSize(const VirtualDiskLayout* layout, uint32_t decodedBlocks) {
  if (!IsValidLayout(layout) || decodedBlocks == 0 || decodedBlocks > kMaxDecodedBlocks) return 0;
  uint64_t blockSize = layout->BlockSize;
  return 2 * blockSize + uint64_t(kIndexBatchEntries) * kMaxIndexEntrySize + decodedBlocks * blockSize;
}

bool InitBlockReader(BlockReader* reader, const VirtualDiskLayout* layout, FileSource files,
                     uint8_t* work, uint64_t workSize, uint32_t decodedBlocks) {
  __builtin_memset(reader, 0, sizeof(*reader));
  uint64_t needed = BlockReaderWorkSize(layout, decodedBlocks);
  if (needed == 0 || work == nullptr || workSize < needed || files.ReadAt == nullptr) return false;
  reader->Layout = *layout;
  reader->Files = files;
  reader->ReadBuffer = work;
  reader->IndexBuffer = work + 2 * uint64_t(layout->BlockSize);
  reader->DecodedBlocks = reader->IndexBuffer + kIndexBatchEntries * kMaxIndexEntrySize;
  reader->DecodedBlockCount = decodedBlocks;
  if (layout->CipherType != 0)
    SetCipherKey(&reader->Cipher, layout->Key, 64 + 64 * int32_t(layout->CipherType));
  return true;
}

ReadStatus LocateBlock(BlockReader* reader, uint32_t block, BlockLocation* location) {
  const VirtualDiskLayout& layout = reader->Layout;
  if (block >= layout.BlockCount) return kReadBadRequest;
  const uint32_t entrySize = IndexEntrySize(&layout);
  if (reader->IndexEntries == 0 || block < reader->IndexFirstBlock ||
      block - reader->IndexFirstBlock >= reader->IndexEntries) {
    uint32_t first = block - block % kIndexBatchEntries;
    uint32_t entries = layout.BlockCount - first;
    if (entries > kIndexBatchEntries) entries = kIndexBatchEntries;
    reader->IndexEntries = 0;
    ReadStatus status = ReadExactly(*reader, layout.FileCount - 1u,
                                    layout.IndexOffset + uint64_t(first) * entrySize,
                                    reader->IndexBuffer, entries * entrySize);
    if (status != kReadOk) return status;
    reader->IndexFirstBlock = first;
    reader->IndexEntries = entries;
  }
  return CheckIndexEntry(&layout, reader->IndexBuffer + (block - reader->IndexFirstBlock) * entrySize,
                         location);
}

ReadStatus CheckIndexEntry(const VirtualDiskLayout* layout, const uint8_t* entry,
                           BlockLocation* location) {
  const IndexEntryFields fields = LoadIndexEntry(entry, layout->FormatVersion);
  location->FileOffset = fields.FileOffset;
  location->Slot = fields.Slot;
  location->StoredLength = fields.LengthAndMethod & 0x00FFFFFF;
  location->Method = uint8_t(fields.LengthAndMethod >> 24);
  if (location->StoredLength == 0) return kReadOk;
  if (location->StoredLength > 2 * uint64_t(layout->BlockSize)) return kReadDataError;
  if (location->Slot >= layout->FileCount) return kReadDataError;
  if (SumOverflows(location->FileOffset, location->StoredLength)) return kReadDataError;
  // Encrypted blocks are whole cipher blocks: the writer pads before encrypting.
  if (layout->CipherType != 0 && location->StoredLength % kCipherBlock != 0) return kReadDataError;
  return kReadOk;
}

ReadStatus BlocksOfRange(const VirtualDiskLayout* layout, uint64_t offset, uint32_t length,
                         BlockSpan* span) {
  if (length == 0 || offset < layout->RawLength) return kReadBadRequest;
  const uint64_t relative = offset - layout->RawLength;
  if (SumOverflows(relative, length)) return kReadBadRequest;
  const uint64_t first = relative / layout->BlockSize;
  const uint64_t last = (relative + length - 1) / layout->BlockSize;
  if (last >= layout->BlockCount) return kReadBadRequest;
  span->First = uint32_t(first);
  span->Last = uint32_t(last);
  span->FirstOffset = uint32_t(relative - first * layout->BlockSize);
  return kReadOk;
}

ReadStatus DecodeBlock(BlockReader* reader, uint32_t block, uint8_t* output, uint32_t* available) {
  const VirtualDiskLayout& layout = reader->Layout;
  BlockLocation location;
  ReadStatus status = LocateBlock(reader, block, &location);
  if (status != kReadOk) return status;
  if (location.StoredLength == 0) {
    __builtin_memset(output, 0, layout.BlockSize);
    *available = layout.BlockSize;
    return kReadOk;
  }
  status = ReadExactly(*reader, location.Slot, location.FileOffset, reader->ReadBuffer,
                       location.StoredLength);
  if (status != kReadOk) return status;
  if (layout.CipherType != 0)
    DecryptCbc(&reader->Cipher, reader->ReadBuffer, int32_t(location.StoredLength));
  if (layout.Compressed != 0)
    return Decompress(*reader, location.Method, location.StoredLength, output, available);
  uint32_t count = location.StoredLength < layout.BlockSize ? location.StoredLength : layout.BlockSize;
  __builtin_memcpy(output, reader->ReadBuffer, count);
  *available = count;
  return kReadOk;
}

ReadStatus ReadVirtualDisk(BlockReader* reader, uint64_t offset, uint32_t length,
                           uint8_t* destination) {
  const VirtualDiskLayout& layout = reader->Layout;
  if (reader->ReadBuffer == nullptr) return kReadBadRequest;
  if (SumOverflows(offset, length) || offset + length > layout.DiskLength) return kReadBadRequest;
  if (length == 0) return kReadOk;
  // A read that starts in the raw region and crosses its end continues in the blocks.
  if (offset < layout.RawLength) {
    uint64_t rawLeft = layout.RawLength - offset;
    uint32_t rawPart = rawLeft < length ? uint32_t(rawLeft) : length;
    ReadStatus status = ReadRaw(*reader, offset, rawPart, destination);
    if (status != kReadOk || rawPart == length) return status;
    offset += rawPart;
    length -= rawPart;
    destination += rawPart;
  }
  return ReadBlocks(*reader, offset, length, destination);
}
