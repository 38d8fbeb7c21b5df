#include "block_reader.h"

#include "codec.h"

namespace {

constexpr uint32_t kCipherBlock = 16;

// Reads exactly length bytes or fails: a short read is never passed on as data. *bytesRead
// (when given) is how far the file delivered before it ended.
ReadStatus ReadExactly(const BlockReader& reader, uint32_t slot, uint64_t offset, uint8_t* buffer,
                       uint32_t length, uint32_t* delivered = nullptr) {
  if (slot >= reader.Layout.FileCount) return kReadDataError;
  uint32_t bytesRead = 0;
  const bool read = reader.Files.ReadAt(reader.Files.Context, slot, offset, buffer, length, &bytesRead);
  if (delivered) *delivered = read && bytesRead < length ? bytesRead : 0;
  return read && bytesRead == length ? kReadOk : kReadFileFailed;
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

// The block a disk byte past the raw region lies in, for failures found before its piece.
uint32_t BlockAtOffset(const VirtualDiskLayout& layout, uint64_t offset) {
  if (offset < layout.RawLength) return kNoBlock;
  const uint64_t block = (offset - layout.RawLength) / layout.BlockSize;
  return block < layout.BlockCount ? uint32_t(block) : kNoBlock;
}

ReadStatus LocateThroughReader(void* context, uint32_t block, BlockLocation* location) {
  return LocateBlock(static_cast<BlockReader*>(context), block, location);
}

void NoteFailure(ReadFailure* failure, uint64_t offset, uint32_t block, uint32_t slot) {
  if (failure) *failure = {offset, block, slot};
}

// Part of one block through the decoded-block cache.
ReadStatus ReadDecoded(BlockReader& reader, const DiskPiece& piece, uint8_t* destination,
                       ReadFailure* failure) {
  DecodedBlockSlot* slot = FindCached(reader, piece.Block);
  if (slot == nullptr) {
    slot = LeastRecentlyUsed(reader);
    slot->LastUse = 0;  // empty until the decode succeeds
    uint32_t available = 0;
    ReadStatus status = DecodeBlock(&reader, piece.Block, SlotData(reader, slot), &available, failure);
    if (status != kReadOk) {
      if (failure) failure->Offset = piece.DiskOffset;
      return status;
    }
    slot->Block = piece.Block;
    slot->Available = available;
  }
  slot->LastUse = ++reader.UseCounter;
  if (piece.BlockOffset + piece.Length > slot->Available) {  // the block came up short
    NoteFailure(failure, piece.DiskOffset, piece.Block, piece.Location.Slot);
    return kReadDataError;
  }
  __builtin_memcpy(destination, SlotData(reader, slot) + piece.BlockOffset, piece.Length);
  return kReadOk;
}

ReadStatus ServeThroughReader(void* context, const DiskPiece* served, uint8_t* destination,
                              ReadFailure* failure) {
  BlockReader& reader = *static_cast<BlockReader*>(context);
  const DiskPiece& piece = *served;
  switch (piece.Kind) {
    case kPieceZeros:
      __builtin_memset(destination, 0, piece.Length);
      return kReadOk;
    case kPieceDecode:
      return ReadDecoded(reader, piece, destination, failure);
    default: {
      uint32_t delivered = 0;
      ReadStatus status = ReadExactly(reader, piece.Slot, piece.FileOffset, destination, piece.Length, &delivered);
      if (status != kReadOk) {
        // A run of blocks fails at the block its file ended in.
        const uint64_t end = piece.DiskOffset + delivered;
        const uint32_t block = BlockAtOffset(reader.Layout, end);
        const uint64_t blockStart = block == kNoBlock ? piece.DiskOffset
                                                      : reader.Layout.RawLength + uint64_t(block) * reader.Layout.BlockSize;
        NoteFailure(failure, blockStart > piece.DiskOffset ? blockStart : piece.DiskOffset, block, piece.Slot);
      }
      return status;
    }
  }
}

ReadStatus FirstPieceThroughReader(void* context, uint64_t offset, uint32_t length, DiskPiece* piece,
                                   ReadFailure* failure) {
  BlockReader* reader = static_cast<BlockReader*>(context);
  return FirstPiece(&reader->Layout, {LocateThroughReader, reader}, offset, length, piece, failure);
}


}  // namespace

uint64_t BlockReaderWorkSize(const VirtualDiskLayout* layout, uint32_t decodedBlocks) {
  if (!IsValidLayout(layout) || decodedBlocks == 0 || decodedBlocks > kMaxDecodedBlocks) return 0;
  uint64_t blockSize = layout->BlockSize;
  return 2 * blockSize + uint64_t(kIndexBatchEntries) * kMaxIndexEntrySize + decodedBlocks * blockSize;
}

bool InitBlockReader(BlockReader* reader, const VirtualDiskLayout* layout, const uint8_t* key,
                     FileSource files, uint8_t* work, uint64_t workSize, uint32_t decodedBlocks) {
  __builtin_memset(reader, 0, sizeof(*reader));
  uint64_t needed = BlockReaderWorkSize(layout, decodedBlocks);
  if (needed == 0 || work == nullptr || workSize < needed || files.ReadAt == nullptr) return false;
  if (layout->CipherType != 0 && key == nullptr) return false;
  reader->Layout = *layout;
  reader->Files = files;
  reader->ReadBuffer = work;
  reader->IndexBuffer = work + 2 * uint64_t(layout->BlockSize);
  reader->DecodedBlocks = reader->IndexBuffer + kIndexBatchEntries * kMaxIndexEntrySize;
  reader->DecodedBlockCount = decodedBlocks;
  if (layout->CipherType != 0)
    SetCipherKey(&reader->Cipher, key, CipherKeyBits(layout->CipherType));
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
    if (status != kReadOk) {
      location->Slot = layout.FileCount - 1u;  // for the failure: the index's file
      return status;
    }
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
  location->StoredLength = fields.LengthAndMethod & kStoredLengthMask;
  location->Method = uint8_t(fields.LengthAndMethod >> kMethodShift);
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

ReadStatus DecodeBlock(BlockReader* reader, uint32_t block, uint8_t* output, uint32_t* available,
                       ReadFailure* failure) {
  const VirtualDiskLayout& layout = reader->Layout;
  BlockLocation location = {0, 0, kNoSlot, 0};
  ReadStatus status = LocateBlock(reader, block, &location);
  if (status == kReadOk && location.StoredLength == 0) {
    __builtin_memset(output, 0, layout.BlockSize);
    *available = layout.BlockSize;
    return kReadOk;
  }
  if (status == kReadOk)
    status = ReadExactly(*reader, location.Slot, location.FileOffset, reader->ReadBuffer,
                         location.StoredLength);
  if (status == kReadOk) {
    if (layout.CipherType != 0)
      DecryptCbc(&reader->Cipher, reader->ReadBuffer, int32_t(location.StoredLength));
    if (layout.Compressed != 0) {
      status = Decompress(*reader, location.Method, location.StoredLength, output, available);
    } else {
      const uint32_t count = location.StoredLength < layout.BlockSize ? location.StoredLength : layout.BlockSize;
      __builtin_memcpy(output, reader->ReadBuffer, count);
      *available = count;
    }
  }
  if (status != kReadOk) NoteFailure(failure, 0, block, location.Slot);
  return status;
}

ReadStatus FirstPiece(const VirtualDiskLayout* layout, BlockLocator locator, uint64_t offset,
                      uint32_t length, DiskPiece* piece, ReadFailure* failure) {
  *piece = {};
  piece->DiskOffset = offset;
  piece->Block = kNoBlock;
  piece->Slot = kNoSlot;
  if (length == 0 || SumOverflows(offset, length) || offset + length > layout->DiskLength) {
    NoteFailure(failure, offset, BlockAtOffset(*layout, offset), kNoSlot);
    return kReadBadRequest;
  }
  // A request that starts in the raw region and crosses its end continues in the blocks.
  if (offset < layout->RawLength) {
    const uint64_t rawLeft = layout->RawLength - offset;
    if (SumOverflows(layout->RawOffset, offset)) {
      NoteFailure(failure, offset, kNoBlock, layout->RawFileSlot);
      return kReadBadRequest;
    }
    piece->Kind = kPieceRaw;
    piece->Length = rawLeft < length ? uint32_t(rawLeft) : length;
    piece->Slot = layout->RawFileSlot;
    piece->FileOffset = layout->RawOffset + offset;
    return kReadOk;
  }
  BlockSpan span;
  ReadStatus status = BlocksOfRange(layout, offset, length, &span);
  if (status != kReadOk) {
    NoteFailure(failure, offset, kNoBlock, kNoSlot);
    return status;
  }
  const bool verbatim = layout->Compressed == 0 && layout->CipherType == 0;
  uint32_t from = span.FirstOffset;
  for (uint32_t block = span.First; piece->Length < length; ++block) {
    BlockLocation location = {0, 0, kNoSlot, 0};
    status = locator.Locate(locator.Context, block, &location);
    const uint32_t count = layout->BlockSize - from < length - piece->Length ? layout->BlockSize - from
                                                                             : length - piece->Length;
    DiskPieceKind kind = location.StoredLength == 0 ? kPieceZeros : verbatim ? kPieceVerbatim : kPieceDecode;
    if (status == kReadOk && kind == kPieceVerbatim) {
      const uint32_t stored = location.StoredLength < layout->BlockSize ? location.StoredLength : layout->BlockSize;
      if (from + count > stored) status = kReadDataError;  // the block is short
    }
    if (status != kReadOk) {
      if (piece->Length > 0) break;  // the next call reports it
      const bool fileInvolved = location.StoredLength != 0 || status == kReadFileFailed;
      NoteFailure(failure, offset, block, fileInvolved ? location.Slot : kNoSlot);
      return status;
    }
    const uint64_t fileOffset = location.FileOffset + from;
    if (piece->Length == 0) {
      piece->Kind = kind;
      piece->Block = block;
      piece->BlockOffset = from;
      piece->Location = location;
      if (kind == kPieceVerbatim) {
        piece->Slot = location.Slot;
        piece->FileOffset = fileOffset;
      }
    } else if (kind != piece->Kind || kind == kPieceDecode ||
               (kind == kPieceVerbatim &&
                (location.Slot != piece->Slot || fileOffset != piece->FileOffset + piece->Length))) {
      break;
    }
    piece->Length += count;
    if (kind == kPieceDecode) break;
    from = 0;
  }
  return kReadOk;
}

ReadStatus ServePieces(PieceServer server, uint64_t offset, uint32_t length, uint8_t* destination,
                       ReadFailure* failure) {
  while (length > 0) {
    DiskPiece piece;
    ReadStatus status = server.First(server.Context, offset, length, &piece, failure);
    if (status == kReadOk) status = server.Serve(server.Context, &piece, destination, failure);
    if (status != kReadOk) return status;
    offset += piece.Length;
    length -= piece.Length;
    destination += piece.Length;
  }
  return kReadOk;
}

ReadStatus ReadVirtualDisk(BlockReader* reader, uint64_t offset, uint32_t length,
                           uint8_t* destination, ReadFailure* failure) {
  if (reader->ReadBuffer == nullptr || SumOverflows(offset, length) ||
      offset + length > reader->Layout.DiskLength) {
    NoteFailure(failure, offset, kNoBlock, kNoSlot);
    return kReadBadRequest;
  }
  return ServePieces({FirstPieceThroughReader, ServeThroughReader, reader}, offset, length,
                     destination, failure);
}
