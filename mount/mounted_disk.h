// The partition a mount record describes, served from the image files it names (Linux): bytes
// stored verbatim (the raw region, blocks neither compressed nor encrypted) read straight from
// their file; other blocks through the core read path on the readers, cache and decode-ahead
// threads of a pool the process's disks share. Where the block index carries digests, a block
// is checked against its digest before any of its bytes are served, and one that does not
// match is a read error like one that does not decode.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "block_bitmap.h"
#include "block_reader.h"
#include "decode_pool.h"
#include "image_records.h"

struct MountedDiskError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Where the first bytes of a request lie: verbatim in an image file, or zeros.
struct StoredExtent {
  int File = -1;        // -1 with Length > 0: a block that is not stored, read as zeros
  uint64_t Offset = 0;  // in File
  uint32_t Length = 0;  // bytes of the request from its start; 0: they must be decoded
};

struct MountedDiskOptions {
  bool CheckDigests = true;          // false: serve blocks without comparing their digests
  std::shared_ptr<DecodePool> Pool;  // null: a pool of its own with the default options
};

// Zeros a mount record (it carries the key) where it lies, before its memory is given back.
void WipeRecord(std::vector<uint8_t>& record);

class MountedDisk {
 public:
  // Parses the record and opens the files it names read-only; wipes the record (it carries the
  // key) whatever happens. Throws MountedDiskError.
  explicit MountedDisk(std::vector<uint8_t> record, MountedDiskOptions options = {});
  ~MountedDisk();
  MountedDisk(const MountedDisk&) = delete;
  MountedDisk& operator=(const MountedDisk&) = delete;

  // The record's values; the key is not kept here.
  const VirtualDiskLayout& Layout() const { return layout_; }
  uint64_t Size() const { return layout_.DiskLength; }

  // Thread-safe. Same statuses and failure as ReadVirtualDisk.
  ReadStatus Read(uint64_t offset, uint32_t length, uint8_t* destination, ReadFailure* failure = nullptr);
  // "bytes at offset N (block B in <file>)", or "(raw region in <file>)", for messages.
  std::string FailureText(const ReadFailure& failure) const;
  // Thread-safe. The longest run of the request's first bytes that lies in one piece in a file
  // (or is zeros) and may be served as it is, for callers that move file bytes without copying
  // them. Errors as Read.
  ReadStatus Extent(uint64_t offset, uint32_t length, StoredExtent* extent);
  // Block i as decoded (BlockSize bytes at most) and where it is stored; for verify.
  ReadStatus ReadBlock(uint32_t block, std::vector<uint8_t>& data, BlockLocation* location);

 private:
  friend class DecodePool;
  // Wiped when it goes, on every path.
  struct Key {
    std::array<uint8_t, kMaxKeyBytes> Bytes{};
    ~Key();
  };

  // The readers' file source: the image files, the block index from memory when it is held.
  static bool ReadFile(void* context, uint32_t slot, uint64_t offset, uint8_t* buffer,
                       uint32_t length, uint32_t* bytesRead);
  // For the pool: a reader's state over its work area; what a block needs before it is served.
  uint64_t WorkSize() const { return workSize_; }
  void SetUpReader(BlockReader* reader, uint8_t* work, uint64_t workSize);
  void Produce(BlockReader* reader, uint32_t block, DecodedBlock& entry);
  bool NeedsProducing(uint32_t block) const { return !verbatimBlocks_ || !checked_->Test(block); }

  ReadStatus Locate(uint32_t block, BlockLocation* location, Digest* digest) const;
  // The core's locator: a block served without decoding must also pass its digest.
  static ReadStatus LocateServable(void* context, uint32_t block, BlockLocation* location);
  bool DigestMatches(const BlockLocation& location, const Digest& digest, const uint8_t* data,
                     uint32_t length);
  ReadStatus CheckedVerbatim(uint32_t block, const BlockLocation& location, const Digest& digest);
  bool Sequential(uint32_t first, uint32_t last);
  void DecodeAhead(uint64_t offset, uint32_t length);
  // The core's first piece, cut back to what the files hold: a splice cannot see a short read.
  ReadStatus ServablePiece(uint64_t offset, uint32_t length, DiskPiece* piece, ReadFailure* failure);
  ReadStatus ServePiece(const DiskPiece& piece, uint8_t* destination, ReadFailure* failure);
  ReadStatus ReadDecoded(const DiskPiece& piece, uint8_t* destination, ReadFailure* failure);

  VirtualDiskLayout layout_{};
  std::vector<int> files_;      // by slot, -1 when the record names no file for it
  std::vector<std::string> paths_;  // by slot, for messages
  std::vector<uint64_t> fileSizes_;
  std::vector<uint8_t> index_;  // the block index (at IndexOffset of the last file), or empty
  bool verbatimBlocks_ = false;  // stored blocks are the disk's bytes as they are
  bool checkDigests_ = false;
  uint64_t workSize_ = 0;
  std::unique_ptr<BlockBitmap> checked_;  // verbatim blocks whose digest matched
  std::once_flag zeroDigestOnce_;
  Digest zeroDigest_{};  // of a block that is not stored
  std::mutex sequenceMutex_;
  uint32_t requestFirst_ = 0, nextSequentialBlock_ = 0;  // a read from the start counts as sequential
  std::shared_ptr<DecodePool> pool_;
  Key key_;  // copied last: nothing after it can fail
};
