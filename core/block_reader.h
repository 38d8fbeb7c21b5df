// The read path of a mounted partition: raw region, block index, stored block, decrypt,
// decompress, zero blocks. One implementation for the kernel driver and the Linux tools.
// Freestanding: the caller allocates every buffer once at mount and supplies file reads.
#pragma once
#include <stdint.h>

#include "cipher.h"
#include "image_format.h"

// Reads exactly what it can of length bytes at offset of the file in slot into buffer and sets
// *bytesRead. Returns false when the slot has no open file or the read itself failed.
struct FileSource {
  bool (*ReadAt)(void* context, uint32_t slot, uint64_t offset, uint8_t* buffer, uint32_t length,
                 uint32_t* bytesRead);
  void* Context;
};

// Everything the read path needs to know about a partition (the values of a mount record but
// the key, which InitBlockReader takes on its own so that no copy of a layout carries it).
struct VirtualDiskLayout {
  uint16_t FormatVersion;  // below 3: 12-byte index entries, else 30-byte entries
  uint64_t DiskLength;
  uint32_t SectorSize;     // bytes
  uint32_t BlockCount;
  uint32_t BlockSize;
  uint32_t Compressed;     // nonzero: every stored block is compressed
  uint64_t IndexOffset;    // of the block index, in the last file slot
  uint64_t RawLength;
  uint64_t RawOffset;
  uint16_t CipherType;     // 0 none, 1 AES-128, 2 AES-192, 3 AES-256
  uint16_t FileCount;      // slots 0 .. FileCount - 1; the last holds the block index
  uint16_t RawFileSlot;
};

// Index entries read from the file at once, so that a block does not cost a file read.
constexpr uint32_t kIndexBatchEntries = 128;
constexpr uint32_t kMaxDecodedBlocks = 64;

enum ReadStatus : int32_t {
  kReadOk = 0,
  kReadBadRequest = 1,  // outside the disk, or a layout the reader refuses
  kReadFileFailed = 2,  // a file read failed or came back short
  kReadDataError = 3,   // an index entry or stored block that is invalid or does not decode
};

// The decoded-block cache: block numbers of the buffers in the work area, least recently used
// evicted first.
struct DecodedBlockSlot {
  uint32_t Block;
  uint32_t Available;  // bytes of the block that decoded; the rest cannot be read
  uint64_t LastUse;    // 0 = empty
};

struct BlockReader {
  VirtualDiskLayout Layout;
  FileSource Files;
  CipherContext Cipher;
  uint8_t* ReadBuffer;       // 2 x BlockSize: one stored block
  uint8_t* IndexBuffer;      // kIndexBatchEntries index entries
  uint8_t* DecodedBlocks;    // DecodedBlockCount x BlockSize
  uint32_t DecodedBlockCount;
  uint32_t IndexFirstBlock;  // first entry in IndexBuffer
  uint32_t IndexEntries;     // 0 = IndexBuffer holds nothing
  uint64_t UseCounter;
  DecodedBlockSlot Slots[kMaxDecodedBlocks];
};

// One entry of the block index, checked against the layout.
struct BlockLocation {
  uint64_t FileOffset;
  uint32_t StoredLength;  // 0: the block reads as zeros
  uint32_t Slot;
  uint8_t Method;
};

inline uint32_t IndexEntrySize(const VirtualDiskLayout* layout) {
  return IndexEntrySizeOf(layout->FormatVersion);
}

// One block index entry's fields as stored, unchecked.
struct IndexEntryFields {
  uint64_t FileOffset;
  uint32_t LengthAndMethod;  // stored length in the low 24 bits, method in the high 8
  uint16_t Slot;
};
// Versions 0 to 2 keep an 8-bit slot in the offset word's high byte; from version 3 the slot
// has 16 bits of its own after a digest.
IndexEntryFields LoadIndexEntry(const uint8_t* entry, uint16_t formatVersion);

inline bool SumOverflows(uint64_t a, uint64_t b) { return a + b < a; }

// True when the layout is one the reader can serve without overflow or out-of-range access:
// block size 1 .. kMaxBlockSize, cipher type 0 .. 3, at least one file slot, the raw file slot
// and the block index inside the slots, a disk length below 2^63, and every derived position
// representable.
bool IsValidLayout(const VirtualDiskLayout* layout);

// Bytes of work area InitBlockReader needs for decodedBlocks (1 .. kMaxDecodedBlocks) cached
// blocks; 0 when the layout is invalid or the count out of range.
uint64_t BlockReaderWorkSize(const VirtualDiskLayout* layout, uint32_t decodedBlocks);

// Sets the reader up over the caller's work area (at least BlockReaderWorkSize bytes, which
// the reader uses until it is dropped) and expands key (kMaxKeyBytes, unused when the layout
// has no cipher); the reader keeps only the expanded form. Returns false and leaves the reader
// unusable when the layout is invalid or the area too small.
bool InitBlockReader(BlockReader* reader, const VirtualDiskLayout* layout, const uint8_t* key,
                     FileSource files, uint8_t* work, uint64_t workSize, uint32_t decodedBlocks);

constexpr uint32_t kNoBlock = 0xFFFFFFFFu;
constexpr uint32_t kNoSlot = 0xFFFFFFFFu;

// Where a read failed, so that a message can name the block and the file.
struct ReadFailure {
  uint64_t Offset;  // disk offset where the failing block's part of the request begins
  uint32_t Block;   // kNoBlock: in the raw region, or outside the disk
  uint32_t Slot;    // the file whose read or stored bytes failed; kNoSlot when none is known
};

// Copies length bytes of the virtual disk at offset into destination. On failure the
// destination may hold part of the data and *failure (when given) says where it failed.
ReadStatus ReadVirtualDisk(BlockReader* reader, uint64_t offset, uint32_t length,
                           uint8_t* destination, ReadFailure* failure);

// Block i's index entry, read through the reader's index batch. When the index cannot be read,
// location->Slot is the index's file.
ReadStatus LocateBlock(BlockReader* reader, uint32_t block, BlockLocation* location);

// One index entry as stored (IndexEntrySize bytes), checked against the layout.
ReadStatus CheckIndexEntry(const VirtualDiskLayout* layout, const uint8_t* entry,
                           BlockLocation* location);

// The blocks a request covers, numbered in 64 bits before any of them is narrowed.
struct BlockSpan {
  uint32_t First;
  uint32_t Last;
  uint32_t FirstOffset;  // of the request's first byte in block First
};
// For length (> 0) bytes at disk offset, at or past the raw region. kReadBadRequest when a
// byte of it lies past the last block.
ReadStatus BlocksOfRange(const VirtualDiskLayout* layout, uint64_t offset, uint32_t length,
                         BlockSpan* span);

// How the first bytes of a request are served.
enum DiskPieceKind : uint8_t {
  kPieceRaw,       // the raw region: bytes as they are in a file
  kPieceVerbatim,  // blocks stored neither compressed nor encrypted: bytes as they are in a file
  kPieceZeros,     // blocks that are not stored
  kPieceDecode,    // part of one block that must be decrypted or decompressed
};

struct DiskPiece {
  DiskPieceKind Kind;
  uint64_t DiskOffset;   // of its first byte
  uint32_t Length;       // bytes of the request, from its start
  uint32_t Slot;         // raw and verbatim: the file they lie in; else kNoSlot
  uint64_t FileOffset;   // raw and verbatim: of the piece's first byte in that file
  uint32_t Block;        // the piece's first block; kNoBlock for raw
  uint32_t BlockOffset;  // of the piece's first byte in Block
  BlockLocation Location;  // the index entry of Block (not for raw)
};

// The index entry of a block, from wherever the caller keeps the index; the caller may refuse
// a block for reasons of its own (a digest, a file too short) with any failure status. With
// kReadFileFailed, location->Slot names the file that failed.
struct BlockLocator {
  ReadStatus (*Locate)(void* context, uint32_t block, BlockLocation* location);
  void* Context;
};

// The first piece of length (> 0) bytes at offset on the disk. Verbatim and zero pieces go on
// over the following blocks as long as each continues the run (the next bytes of the same
// file, or zeros after zeros) and locates; a block that does not is left for the next call,
// which reports it. A verbatim block serves no byte past its stored length.
ReadStatus FirstPiece(const VirtualDiskLayout* layout, BlockLocator locator, uint64_t offset,
                      uint32_t length, DiskPiece* piece, ReadFailure* failure);

// Serves a request piece by piece: First finds the next piece (FirstPiece, or a narrower
// rule of the caller's), Serve copies it to its place; either fills *failure (when given) as it
// fails. The first failure ends the request.
struct PieceServer {
  ReadStatus (*First)(void* context, uint64_t offset, uint32_t length, DiskPiece* piece,
                      ReadFailure* failure);
  ReadStatus (*Serve)(void* context, const DiskPiece* piece, uint8_t* destination,
                      ReadFailure* failure);
  void* Context;
};
ReadStatus ServePieces(PieceServer server, uint64_t offset, uint32_t length, uint8_t* destination,
                       ReadFailure* failure);

// Decodes block i into output (BlockSize bytes) without the cache, for callers that decode on
// several threads with one reader each; *available is the number of bytes the block delivered.
// On failure *failure (when given) names the block and, where a file was involved, its slot.
ReadStatus DecodeBlock(BlockReader* reader, uint32_t block, uint8_t* output, uint32_t* available,
                       ReadFailure* failure);
