#include "decode_pool.h"

#include <string.h>

#include <algorithm>

#include "mounted_disk.h"

struct DecodePool::Lease::Reader {
  BlockReader State{};
  std::vector<uint8_t> Work;
  const MountedDisk* For = nullptr;  // the disk State is set up for
  // The state holds the disk's expanded key.
  void Wipe() {
    explicit_bzero(&State, sizeof(State));
    For = nullptr;
  }
  ~Reader() { Wipe(); }
};

namespace {

// Readers beyond the decode threads, for the callers' own threads.
constexpr uint32_t kCallerReaders = 8;
// Blocks the cache holds at least, beyond those decoded ahead.
constexpr uint64_t kCacheMinimumBlocks = 16;

}  // namespace

DecodePool::DecodePool(const DecodePoolOptions& options) {
  threads_ = options.DecodeThreads ? options.DecodeThreads : std::max(1u, std::thread::hardware_concurrency());
  readAhead_ = options.ReadAheadBlocks ? options.ReadAheadBlocks : threads_ > 1 ? 2 * threads_ : 0;
  cacheBytesWanted_ = options.CacheBytes;
  cacheCapacity_ = cacheBytesWanted_;
  maxReaders_ = threads_ + kCallerReaders;
  if (readAhead_ > 0)
    for (uint32_t i = 0; i < threads_; ++i) workers_.emplace_back([this] { DecodeAheadLoop(); });
}

DecodePool::~DecodePool() {
  {
    std::lock_guard lock(cacheMutex_);
    stopping_ = true;
  }
  aheadQueued_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

uint64_t DecodePool::MemoryBound() const {
  uint64_t cache, perReader;
  {
    std::lock_guard lock(cacheMutex_);
    cache = cacheCapacity_;
  }
  {
    std::lock_guard lock(readersMutex_);
    // Its work area, and the block it produces, which may outlive its eviction from the cache.
    perReader = largestWork_ + largestBlock_;
  }
  return cache + maxReaders_ * perReader;
}

void DecodePool::Attach(uint32_t blockSize, uint64_t workSize) {
  {
    std::lock_guard lock(readersMutex_);
    largestWork_ = std::max(largestWork_, workSize);
    largestBlock_ = std::max<uint64_t>(largestBlock_, blockSize);
  }
  std::lock_guard lock(cacheMutex_);
  cacheCapacity_ = std::max(cacheCapacity_, (kCacheMinimumBlocks + readAhead_) * blockSize);
}

void DecodePool::Detach(const MountedDisk& disk) {
  {
    std::unique_lock lock(cacheMutex_);
    std::erase_if(aheadQueue_, [&](const Key& key) { return key.Disk == &disk; });
    aheadDone_.wait(lock, [&] { return aheadRunning_[&disk] == 0; });
    aheadRunning_.erase(&disk);
    for (auto it = cache_.begin(); it != cache_.end();) {
      auto next = std::next(it);
      if (it->first.Disk == &disk) Forget(it);
      it = next;
    }
  }
  std::lock_guard lock(readersMutex_);
  for (auto& reader : idleReaders_)
    if (reader->For == &disk) reader->Wipe();
}

std::unique_ptr<DecodePool::Lease::Reader> DecodePool::TakeReader(MountedDisk& disk) {
  std::unique_ptr<Lease::Reader> reader;
  {
    std::unique_lock lock(readersMutex_);
    readerReturned_.wait(lock, [this] { return !idleReaders_.empty() || readersMade_ < maxReaders_; });
    // One set up for this disk, else any idle one, else a new one: readers follow demand.
    auto idle = std::find_if(idleReaders_.begin(), idleReaders_.end(),
                             [&](const auto& candidate) { return candidate->For == &disk; });
    if (idle == idleReaders_.end() && !idleReaders_.empty()) idle = idleReaders_.end() - 1;
    if (idle != idleReaders_.end()) {
      reader = std::move(*idle);
      idleReaders_.erase(idle);
    } else {
      reader = std::make_unique<Lease::Reader>();
      ++readersMade_;
    }
  }
  if (reader->For != &disk) {
    reader->Wipe();
    if (reader->Work.size() < disk.WorkSize()) {
      reader->Work.clear();
      reader->Work.shrink_to_fit();  // never two work areas at once
      reader->Work.resize(disk.WorkSize());
    }
    disk.SetUpReader(&reader->State, reader->Work.data(), reader->Work.size());
    reader->For = &disk;
  }
  return reader;
}

void DecodePool::GiveBack(std::unique_ptr<Lease::Reader> reader) {
  {
    std::lock_guard lock(readersMutex_);
    idleReaders_.push_back(std::move(reader));
  }
  readerReturned_.notify_one();
}

DecodePool::Lease::Lease(DecodePool& pool, MountedDisk& disk) : pool_(pool), reader_(pool.TakeReader(disk)) {}
DecodePool::Lease::~Lease() { pool_.GiveBack(std::move(reader_)); }
BlockReader* DecodePool::Lease::operator->() { return &reader_->State; }

void DecodePool::Forget(std::unordered_map<Key, Slot, KeyHash>::iterator found) {
  cachedBytes_ -= found->second.Bytes;
  recency_.erase(found->second.Use);
  cache_.erase(found);
}

void DecodePool::Evict() {
  // An entry still being produced lives on with its waiters.
  while (cachedBytes_ > cacheCapacity_ && cache_.size() > 1) Forget(cache_.find(recency_.back()));
}

std::shared_ptr<DecodedBlock> DecodePool::Block(MountedDisk& disk, uint32_t block) {
  const Key key{&disk, block};
  std::unique_lock lock(cacheMutex_);
  auto found = cache_.find(key);
  if (found != cache_.end()) {
    std::shared_ptr<DecodedBlock> entry = found->second.Entry;
    recency_.splice(recency_.begin(), recency_, found->second.Use);
    blockProduced_.wait(lock, [&] { return entry->Ready; });
    return entry;
  }
  auto entry = std::make_shared<DecodedBlock>();
  recency_.push_front(key);
  cache_[key] = {entry, recency_.begin(), disk.Layout().BlockSize};
  cachedBytes_ += disk.Layout().BlockSize;
  Evict();
  lock.unlock();
  {
    Lease reader(*this, disk);
    disk.Produce(reader.get(), block, *entry);
  }
  lock.lock();
  entry->Ready = true;
  if (entry->Status != kReadOk || !entry->Keep) {  // a later read tries a failed block again
    auto again = cache_.find(key);
    if (again != cache_.end() && again->second.Entry == entry) Forget(again);
  }
  blockProduced_.notify_all();
  return entry;
}

void DecodePool::Ahead(MountedDisk& disk, uint32_t first, uint32_t count) {
  if (readAhead_ == 0) return;
  {
    std::lock_guard lock(cacheMutex_);
    for (uint64_t block = first; block < uint64_t(first) + count && block < disk.Layout().BlockCount; ++block) {
      const Key key{&disk, uint32_t(block)};
      if (cache_.count(key) || std::find(aheadQueue_.begin(), aheadQueue_.end(), key) != aheadQueue_.end())
        continue;
      aheadQueue_.push_back(key);
    }
  }
  aheadQueued_.notify_all();
}

void DecodePool::DecodeAheadLoop() {
  for (;;) {
    Key key;
    {
      std::unique_lock lock(cacheMutex_);
      aheadQueued_.wait(lock, [this] { return stopping_ || !aheadQueue_.empty(); });
      if (stopping_) return;
      key = aheadQueue_.front();
      aheadQueue_.pop_front();
      if (cache_.count(key)) continue;
      ++aheadRunning_[key.Disk];
    }
    MountedDisk& disk = *const_cast<MountedDisk*>(key.Disk);
    if (disk.NeedsProducing(key.Block)) Block(disk, key.Block);
    {
      std::lock_guard lock(cacheMutex_);
      --aheadRunning_[key.Disk];
    }
    aheadDone_.notify_all();
  }
}
