// The partition a mount record describes, served from the image files it names (Linux): bytes
// stored verbatim (the raw region, blocks neither compressed nor encrypted) read straight from
// their file; other blocks through the core read path, one reader per thread, a shared cache
// of decoded blocks and decode-ahead on every core for sequential reads.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <vector>

#include "block_reader.h"
#include "mount_record.h"

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
  uint32_t DecodeThreads = 0;      // 0: one per core
  uint32_t ReadAheadBlocks = 0;    // 0: twice the threads; decode-ahead off when threads are 1
  uint64_t CacheBytes = 64u << 20;
};

class MountedDisk {
 public:
  // Parses the record and opens the files it names read-only. Throws MountedDiskError.
  MountedDisk(const std::vector<uint8_t>& record, const MountedDiskOptions& options = {});
  ~MountedDisk();
  MountedDisk(const MountedDisk&) = delete;
  MountedDisk& operator=(const MountedDisk&) = delete;

  const VirtualDiskLayout& Layout() const { return layout_; }
  uint64_t Size() const { return layout_.DiskLength; }

  // Thread-safe. Same statuses as ReadVirtualDisk.
  ReadStatus Read(uint64_t offset, uint32_t length, uint8_t* destination);
  // Thread-safe. The longest run of the request's first bytes that lies in one piece in a file
  // (or is zeros), for callers that move file bytes without copying them. Errors as Read.
  ReadStatus Extent(uint64_t offset, uint32_t length, StoredExtent* extent);
  // Block i as decoded (BlockSize bytes at most) and where it is stored; for export and verify.
  ReadStatus ReadBlock(uint32_t block, std::vector<uint8_t>& data, BlockLocation* location);

 private:
  struct Reader;
  struct CachedBlock;
  struct CacheSlot {
    std::shared_ptr<CachedBlock> Entry;
    std::list<uint32_t>::iterator Use;  // in recency_
  };
  class Lease;

  // The readers' file source: the image files, the block index from memory when it is held.
  static bool ReadFile(void* context, uint32_t slot, uint64_t offset, uint8_t* buffer,
                       uint32_t length, uint32_t* bytesRead);
  std::unique_ptr<Reader> TakeReader();
  void GiveBack(std::unique_ptr<Reader> reader);
  std::shared_ptr<CachedBlock> Block(uint32_t block);
  void DecodeInto(CachedBlock& entry, uint32_t block);
  void ScheduleAhead(uint32_t nextBlock, uint32_t count);
  void DecodeAheadLoop();
  ReadStatus InFile(uint32_t slot, uint64_t offset, uint32_t length, StoredExtent* extent) const;
  ReadStatus ReadDecoded(uint64_t offset, uint32_t length, uint8_t* destination);

  std::vector<uint8_t> record_;
  VirtualDiskLayout layout_{};
  std::vector<int> files_;  // by slot, -1 when the record names no file for it
  std::vector<uint64_t> fileSizes_;
  std::vector<uint8_t> index_;  // the block index (at IndexOffset of the last file), or empty
  bool verbatimBlocks_ = false;  // stored blocks are the disk's bytes as they are
  MountedDiskOptions options_;
  size_t cacheCapacity_ = 0;

  std::mutex readersMutex_;
  std::condition_variable readerReturned_;
  std::vector<std::unique_ptr<Reader>> readers_;

  std::mutex cacheMutex_;
  std::condition_variable blockDecoded_;
  std::unordered_map<uint32_t, CacheSlot> cache_;
  std::list<uint32_t> recency_;  // most recent first
  std::list<uint32_t> aheadQueue_;
  uint32_t nextSequentialBlock_ = 0;  // a read from the start counts as sequential
  bool stopping_ = false;
  std::condition_variable aheadQueued_;
  std::vector<std::thread> workers_;
};
