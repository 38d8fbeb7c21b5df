#include "mounted_disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "mount_record_build.h"

struct MountedDisk::Reader {
  BlockReader State{};
  std::vector<uint8_t> Work;
};

struct MountedDisk::CachedBlock {
  std::vector<uint8_t> Data;
  uint32_t Available = 0;
  ReadStatus Status = kReadOk;
  bool Ready = false;
};

// A reader taken from the pool for one scope.
class MountedDisk::Lease {
 public:
  explicit Lease(MountedDisk& disk) : disk_(disk), reader_(disk.TakeReader()) {}
  ~Lease() { disk_.GiveBack(std::move(reader_)); }
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  BlockReader* operator->() { return &reader_->State; }

 private:
  MountedDisk& disk_;
  std::unique_ptr<Reader> reader_;
};

namespace {

// Block indexes up to this size are held in memory: 32 MiB covers 1 Ti blocks of 64 KiB.
constexpr uint64_t kIndexInMemoryBytes = 32u << 20;

bool PreadExactly(int fd, uint8_t* buffer, uint32_t length, uint64_t offset) {
  uint32_t done = 0;
  while (done < length) {
    ssize_t n = pread(fd, buffer + done, length - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += uint32_t(n);
  }
  return true;
}

}  // namespace

MountedDisk::MountedDisk(const std::vector<uint8_t>& record, const MountedDiskOptions& options)
    : record_(record), options_(options) {
  ParsedMountRecord parsed;
  if (!ParseMountRecord(record_.data(), uint32_t(record_.size()), &parsed))
    throw MountedDiskError("the mount record is not valid");
  layout_ = parsed.Layout;
  files_.assign(layout_.FileCount, -1);
  MountFileCursor cursor = FirstMountFile(&parsed);
  MountFileEntry entry;
  while (NextMountFile(&cursor, &entry)) {
    std::string path = Win32PathFromNtPath({entry.Path, entry.PathLength});
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      std::string reason = std::strerror(errno);
      for (int opened : files_) if (opened >= 0) close(opened);
      throw MountedDiskError("cannot open " + path + ": " + reason);
    }
    if (files_[entry.Slot] >= 0) close(files_[entry.Slot]);
    files_[entry.Slot] = fd;
  }
  // The files do not change while mounted: a range past the end fails before any read.
  fileSizes_.assign(files_.size(), 0);
  for (size_t slot = 0; slot < files_.size(); ++slot) {
    struct stat status;
    if (files_[slot] >= 0 && fstat(files_[slot], &status) == 0) fileSizes_[slot] = uint64_t(status.st_size);
  }
  verbatimBlocks_ = layout_.Compressed == 0 && layout_.CipherType == 0;
  // Every read looks its blocks up in the index: random reads would otherwise cost a file read
  // of an index batch each, and a cold sequential pass a seek to the index now and then.
  const uint64_t indexBytes = uint64_t(layout_.BlockCount) * IndexEntrySize(&layout_);
  if (files_.back() >= 0 && indexBytes <= kIndexInMemoryBytes) {
    index_.resize(indexBytes);
    if (!PreadExactly(files_.back(), index_.data(), uint32_t(indexBytes), layout_.IndexOffset))
      index_.clear();  // the reads fail on their own
  }

  uint32_t threads = options_.DecodeThreads;
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  if (options_.ReadAheadBlocks == 0) options_.ReadAheadBlocks = threads > 1 ? 2 * threads : 0;
  cacheCapacity_ = std::max<uint64_t>(16 + options_.ReadAheadBlocks,
                                      options_.CacheBytes / layout_.BlockSize);

  const uint64_t workSize = BlockReaderWorkSize(&layout_, 1);
  // Enough readers for the decode threads and the callers' own threads.
  for (uint32_t i = 0; i < threads + 8; ++i) {
    auto reader = std::make_unique<Reader>();
    reader->Work.resize(workSize);
    InitBlockReader(&reader->State, &layout_, {ReadFile, this}, reader->Work.data(),
                    reader->Work.size(), 1);
    readers_.push_back(std::move(reader));
  }
  if (options_.ReadAheadBlocks > 0)
    for (uint32_t i = 0; i < threads; ++i) workers_.emplace_back([this] { DecodeAheadLoop(); });
}

bool MountedDisk::ReadFile(void* context, uint32_t slot, uint64_t offset, uint8_t* buffer,
                           uint32_t length, uint32_t* bytesRead) {
  const MountedDisk& disk = *static_cast<const MountedDisk*>(context);
  *bytesRead = 0;
  if (slot >= disk.files_.size() || disk.files_[slot] < 0) return false;
  const uint64_t indexOffset = disk.layout_.IndexOffset;
  if (slot + 1u == disk.files_.size() && offset >= indexOffset &&
      offset - indexOffset <= disk.index_.size() && length <= disk.index_.size() - (offset - indexOffset)) {
    std::memcpy(buffer, disk.index_.data() + (offset - indexOffset), length);
    *bytesRead = length;
    return true;
  }
  while (*bytesRead < length) {
    ssize_t n = pread(disk.files_[slot], buffer + *bytesRead, length - *bytesRead,
                      off_t(offset + *bytesRead));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;  // end of file: the caller sees a short read
    *bytesRead += uint32_t(n);
  }
  return true;
}

MountedDisk::~MountedDisk() {
  {
    std::lock_guard lock(cacheMutex_);
    stopping_ = true;
  }
  aheadQueued_.notify_all();
  for (std::thread& worker : workers_) worker.join();
  for (int fd : files_) if (fd >= 0) close(fd);
}

std::unique_ptr<MountedDisk::Reader> MountedDisk::TakeReader() {
  std::unique_lock lock(readersMutex_);
  readerReturned_.wait(lock, [this] { return !readers_.empty(); });
  std::unique_ptr<Reader> reader = std::move(readers_.back());
  readers_.pop_back();
  return reader;
}

void MountedDisk::GiveBack(std::unique_ptr<Reader> reader) {
  {
    std::lock_guard lock(readersMutex_);
    readers_.push_back(std::move(reader));
  }
  readerReturned_.notify_one();
}

void MountedDisk::DecodeInto(CachedBlock& entry, uint32_t block) {
  entry.Data.resize(layout_.BlockSize);
  std::unique_ptr<Reader> reader = TakeReader();
  entry.Status = DecodeBlock(&reader->State, block, entry.Data.data(), &entry.Available);
  GiveBack(std::move(reader));
}

// The decoded block, decoding it here unless it is cached or another thread decodes it.
std::shared_ptr<MountedDisk::CachedBlock> MountedDisk::Block(uint32_t block) {
  std::unique_lock lock(cacheMutex_);
  auto found = cache_.find(block);
  if (found != cache_.end()) {
    std::shared_ptr<CachedBlock> entry = found->second.Entry;
    recency_.splice(recency_.begin(), recency_, found->second.Use);
    blockDecoded_.wait(lock, [&] { return entry->Ready; });
    return entry;
  }
  auto entry = std::make_shared<CachedBlock>();
  recency_.push_front(block);
  cache_[block] = {entry, recency_.begin()};
  while (cache_.size() > cacheCapacity_) {
    cache_.erase(recency_.back());  // an entry still decoding lives on with its waiters
    recency_.pop_back();
  }
  lock.unlock();
  DecodeInto(*entry, block);
  lock.lock();
  entry->Ready = true;
  if (entry->Status != kReadOk) {  // failures are not remembered: a later read tries again
    auto again = cache_.find(block);
    if (again != cache_.end() && again->second.Entry == entry) {
      recency_.erase(again->second.Use);
      cache_.erase(again);
    }
  }
  blockDecoded_.notify_all();
  return entry;
}

void MountedDisk::ScheduleAhead(uint32_t nextBlock, uint32_t count) {
  if (options_.ReadAheadBlocks == 0) return;
  {
    std::lock_guard lock(cacheMutex_);
    for (uint32_t i = 0; i < count; ++i) {
      uint64_t block = uint64_t(nextBlock) + i;
      if (block >= layout_.BlockCount) break;
      if (cache_.count(uint32_t(block)) ||
          std::find(aheadQueue_.begin(), aheadQueue_.end(), block) != aheadQueue_.end())
        continue;
      aheadQueue_.push_back(uint32_t(block));
    }
  }
  aheadQueued_.notify_all();
}

void MountedDisk::DecodeAheadLoop() {
  for (;;) {
    uint32_t block;
    {
      std::unique_lock lock(cacheMutex_);
      aheadQueued_.wait(lock, [this] { return stopping_ || !aheadQueue_.empty(); });
      if (stopping_) return;
      block = aheadQueue_.front();
      aheadQueue_.pop_front();
      if (cache_.count(block)) continue;
    }
    Block(block);
  }
}

ReadStatus MountedDisk::InFile(uint32_t slot, uint64_t offset, uint32_t length,
                               StoredExtent* extent) const {
  if (slot >= files_.size()) return kReadDataError;
  if (files_[slot] < 0) return kReadFileFailed;
  if (SumOverflows(offset, length) || offset + length > fileSizes_[slot]) return kReadFileFailed;
  *extent = {files_[slot], offset, length};
  return kReadOk;
}

ReadStatus MountedDisk::Extent(uint64_t offset, uint32_t length, StoredExtent* extent) {
  *extent = {};
  if (SumOverflows(offset, length) || offset + length > layout_.DiskLength) return kReadBadRequest;
  if (length == 0) return kReadOk;
  if (offset < layout_.RawLength) {
    if (SumOverflows(layout_.RawOffset, offset)) return kReadBadRequest;
    uint32_t rawPart = uint32_t(std::min<uint64_t>(length, layout_.RawLength - offset));
    return InFile(layout_.RawFileSlot, layout_.RawOffset + offset, rawPart, extent);
  }
  if (!verbatimBlocks_) return kReadOk;

  const uint64_t relative = offset - layout_.RawLength;
  uint64_t block = relative / layout_.BlockSize;
  uint32_t from = uint32_t(relative - block * layout_.BlockSize);
  Lease reader(*this);
  // Whole blocks as long as they continue the run: adjacent in one file, or zeros after zeros.
  StoredExtent run;
  while (run.Length < length) {
    BlockLocation location;
    ReadStatus status = LocateBlock(reader.operator->(), uint32_t(block), &location);
    const uint32_t count = std::min(layout_.BlockSize - from, length - run.Length);
    StoredExtent piece{-1, 0, count};
    if (status == kReadOk && location.StoredLength != 0) {
      const uint32_t stored = std::min(location.StoredLength, layout_.BlockSize);
      status = from + count > stored ? kReadDataError  // the block is short
                                     : InFile(location.Slot, location.FileOffset + from, count, &piece);
    }
    if (status != kReadOk) {
      if (run.Length == 0) return status;
      break;  // the next call reports it
    }
    if (run.Length == 0) {
      run = piece;
    } else {
      if (piece.File != run.File || (piece.File >= 0 && piece.Offset != run.Offset + run.Length)) break;
      run.Length += count;
    }
    from = 0;
    ++block;
  }
  *extent = run;
  return kReadOk;
}

ReadStatus MountedDisk::Read(uint64_t offset, uint32_t length, uint8_t* destination) {
  if (SumOverflows(offset, length) || offset + length > layout_.DiskLength) return kReadBadRequest;
  while (length > 0) {
    StoredExtent extent;
    ReadStatus status = Extent(offset, length, &extent);
    if (status != kReadOk) return status;
    if (extent.Length == 0) return ReadDecoded(offset, length, destination);
    if (extent.File < 0)
      std::memset(destination, 0, extent.Length);
    else if (!PreadExactly(extent.File, destination, extent.Length, extent.Offset))
      return kReadFileFailed;
    offset += extent.Length;
    length -= extent.Length;
    destination += extent.Length;
  }
  return kReadOk;
}

// Blocks that must be decoded, through the shared cache.
ReadStatus MountedDisk::ReadDecoded(uint64_t offset, uint32_t length, uint8_t* destination) {
  const uint64_t relative = offset - layout_.RawLength;
  const uint64_t first = relative / layout_.BlockSize;
  const uint64_t last = (relative + length - 1) / layout_.BlockSize;
  if (last >= layout_.BlockCount) return kReadBadRequest;
  bool sequential;
  {
    std::lock_guard lock(cacheMutex_);
    sequential = first == nextSequentialBlock_ || first + 1 == nextSequentialBlock_;
    nextSequentialBlock_ = uint32_t(last + 1);
  }
  // The request's own later blocks too: the workers decode them while this thread copies.
  if (sequential) ScheduleAhead(uint32_t(first + 1), uint32_t(last - first) + options_.ReadAheadBlocks);
  uint32_t from = uint32_t(relative - first * layout_.BlockSize);
  uint32_t done = 0;
  for (uint64_t block = first; block <= last; ++block) {
    std::shared_ptr<CachedBlock> entry = Block(uint32_t(block));
    if (entry->Status != kReadOk) return entry->Status;
    uint32_t count = std::min(layout_.BlockSize - from, length - done);
    if (from + count > entry->Available) return kReadDataError;  // the block came up short
    std::memcpy(destination + done, entry->Data.data() + from, count);
    done += count;
    from = 0;
  }
  return kReadOk;
}

ReadStatus MountedDisk::ReadBlock(uint32_t block, std::vector<uint8_t>& data,
                                  BlockLocation* location) {
  std::unique_ptr<Reader> reader = TakeReader();
  ReadStatus status = LocateBlock(&reader->State, block, location);
  GiveBack(std::move(reader));
  if (status != kReadOk) return status;
  bool sequential;
  {
    std::lock_guard lock(cacheMutex_);
    sequential = block == nextSequentialBlock_;
    nextSequentialBlock_ = block + 1;
  }
  if (sequential) ScheduleAhead(block + 1, options_.ReadAheadBlocks);
  std::shared_ptr<CachedBlock> entry = Block(block);
  if (entry->Status != kReadOk) return entry->Status;
  data.assign(entry->Data.begin(), entry->Data.begin() + entry->Available);
  return kReadOk;
}
