// What the mounted disks of one process share: readers with their work areas, a cache of
// decoded blocks bounded in bytes, and the threads that decode ahead of sequential reads. Sized
// once; readers and cached blocks are allocated when a read needs them, so that memory follows
// what is read, not how many partitions are mounted or how large their blocks could be.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "block_reader.h"

class MountedDisk;

struct DecodePoolOptions {
  uint32_t DecodeThreads = 0;    // 0: one per core
  uint32_t ReadAheadBlocks = 0;  // 0: twice the threads; decode-ahead off when threads are 1
  uint64_t CacheBytes = 64u << 20;
};

struct DecodedBlock {
  std::vector<uint8_t> Data;
  uint32_t Available = 0;  // bytes of Data the block delivered
  ReadStatus Status = kReadOk;
  uint32_t FailedSlot = kNoSlot;  // with a failed Status: the file involved, where known
  bool Ready = false;
  bool Keep = true;  // false: only its check mattered, the cache lets it go once ready
};

class DecodePool {
 public:
  explicit DecodePool(const DecodePoolOptions& options = {});
  ~DecodePool();
  DecodePool(const DecodePool&) = delete;
  DecodePool& operator=(const DecodePool&) = delete;

  uint32_t ReadAheadBlocks() const { return readAhead_; }
  // The most the pool may hold for the disks attached so far: the cache, and every reader with
  // the block it produces.
  uint64_t MemoryBound() const;

  // A reader set up for one disk, for one scope.
  class Lease {
   public:
    Lease(DecodePool& pool, MountedDisk& disk);
    ~Lease();
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    BlockReader* operator->();
    BlockReader* get() { return operator->(); }

   private:
    struct Reader;
    friend class DecodePool;
    DecodePool& pool_;
    std::unique_ptr<Reader> reader_;
  };

  // The block produced by disk.Produce, once per block while it stays cached; a thread that
  // asks while another produces it waits for that one. Failures are not kept.
  std::shared_ptr<DecodedBlock> Block(MountedDisk& disk, uint32_t block);
  // Queues blocks first .. first + count - 1 for the decode threads (those not past the end).
  void Ahead(MountedDisk& disk, uint32_t first, uint32_t count);

  // Called by every disk when it is set up (largest block and work area sizes) and before it
  // goes: its queued work is dropped, work in progress waited for, its blocks and readers wiped.
  void Attach(uint32_t blockSize, uint64_t workSize);
  void Detach(const MountedDisk& disk);

 private:
  struct Key {
    const MountedDisk* Disk;
    uint32_t Block;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& key) const {
      return std::hash<const void*>()(key.Disk) ^ (size_t(key.Block) * 0x9E3779B97F4A7C15ull);
    }
  };
  struct Slot {
    std::shared_ptr<DecodedBlock> Entry;
    std::list<Key>::iterator Use;  // in recency_
    uint64_t Bytes;
  };

  std::unique_ptr<Lease::Reader> TakeReader(MountedDisk& disk);
  void GiveBack(std::unique_ptr<Lease::Reader> reader);
  void Forget(std::unordered_map<Key, Slot, KeyHash>::iterator found);
  void Evict();
  void DecodeAheadLoop();

  uint32_t threads_ = 1;
  uint32_t readAhead_ = 0;
  uint64_t cacheBytesWanted_ = 0;
  uint32_t maxReaders_ = 0;

  mutable std::mutex readersMutex_;
  std::condition_variable readerReturned_;
  std::vector<std::unique_ptr<Lease::Reader>> idleReaders_;
  uint32_t readersMade_ = 0;
  uint64_t largestWork_ = 0;
  uint64_t largestBlock_ = 0;

  mutable std::mutex cacheMutex_;
  std::condition_variable blockProduced_;
  std::unordered_map<Key, Slot, KeyHash> cache_;
  std::list<Key> recency_;  // most recent first
  uint64_t cachedBytes_ = 0;
  uint64_t cacheCapacity_ = 0;
  std::deque<Key> aheadQueue_;
  std::unordered_map<const MountedDisk*, uint32_t> aheadRunning_;
  std::condition_variable aheadQueued_;
  std::condition_variable aheadDone_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};
