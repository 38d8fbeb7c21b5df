#include "mounted_disk.h"

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "md5.h"
#include "mount_record.h"
#include "mount_record_build.h"

namespace {

// Block indexes up to this size are held in memory: 32 MiB covers 1 Ti blocks of 64 KiB.
constexpr uint64_t kIndexInMemoryBytes = 32u << 20;
// Where a block's digest lies in its index entry, from the first format version that has one.
constexpr uint16_t kFirstVersionWithDigests = 3;
constexpr uint32_t kEntryDigestOffset = 8;

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

// Wipes an object holding key bytes when the scope ends, however it ends.
template <typename T>
struct WipedOnExit {
  T& Object;
  ~WipedOnExit() { explicit_bzero(&Object, sizeof(T)); }
};

}  // namespace

void WipeRecord(std::vector<uint8_t>& record) { explicit_bzero(record.data(), record.size()); }

MountedDisk::Key::~Key() { explicit_bzero(Bytes.data(), Bytes.size()); }

MountedDisk::MountedDisk(std::vector<uint8_t> record, MountedDiskOptions options) {
  struct RecordWipe {
    std::vector<uint8_t>& Bytes;
    ~RecordWipe() { WipeRecord(Bytes); }
  } recordWipe{record};
  ParsedMountRecord parsed;
  WipedOnExit<ParsedMountRecord> parsedWipe{parsed};
  if (!ParseMountRecord(record.data(), uint32_t(std::min<size_t>(record.size(), UINT32_MAX)), &parsed))
    throw MountedDiskError("the mount record is not valid");
  layout_ = parsed.Layout;
  explicit_bzero(layout_.Key, sizeof(layout_.Key));
  workSize_ = BlockReaderWorkSize(&layout_, 1);
  if (workSize_ == 0) throw MountedDiskError("the mount record is not valid");

  files_.assign(layout_.FileCount, -1);
  auto closeFiles = [this] {
    for (int opened : files_) if (opened >= 0) close(opened);
  };
  MountFileCursor cursor = FirstMountFile(&parsed);
  MountFileEntry entry;
  while (NextMountFile(&cursor, &entry)) {
    std::string path = Win32PathFromNtPath({entry.Path, entry.PathLength});
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      std::string reason = std::strerror(errno);
      closeFiles();
      throw MountedDiskError("cannot open " + path + ": " + reason);
    }
    if (files_[entry.Slot] >= 0) close(files_[entry.Slot]);
    files_[entry.Slot] = fd;
  }
  try {
    // The files do not change while mounted: a range past the end fails before any read.
    fileSizes_.assign(files_.size(), 0);
    for (size_t slot = 0; slot < files_.size(); ++slot) {
      struct stat status;
      if (files_[slot] >= 0 && fstat(files_[slot], &status) == 0) fileSizes_[slot] = uint64_t(status.st_size);
    }
    verbatimBlocks_ = layout_.Compressed == 0 && layout_.CipherType == 0;
    checkDigests_ = options.CheckDigests && layout_.FormatVersion >= kFirstVersionWithDigests;
    checked_ = std::make_unique<BlockBitmap>(layout_.BlockCount);
    // Every read looks its blocks up in the index: random reads would otherwise cost a file
    // read of an index batch each, and a cold sequential pass a seek to the index now and then.
    const uint64_t indexBytes = uint64_t(layout_.BlockCount) * IndexEntrySize(&layout_);
    const uint64_t indexFileSize = fileSizes_.back();
    if (files_.back() >= 0 && indexBytes <= kIndexInMemoryBytes &&
        layout_.IndexOffset <= indexFileSize && indexBytes <= indexFileSize - layout_.IndexOffset) {
      index_.resize(indexBytes);
      if (!PreadExactly(files_.back(), index_.data(), uint32_t(indexBytes), layout_.IndexOffset))
        index_.clear();  // the reads fail on their own
    }
    pool_ = options.Pool ? std::move(options.Pool) : std::make_shared<DecodePool>();
    pool_->Attach(layout_.BlockSize, workSize_);
  } catch (...) {
    closeFiles();
    throw;
  }
  std::memcpy(key_.Bytes.data(), parsed.Layout.Key, key_.Bytes.size());
}

MountedDisk::~MountedDisk() {
  pool_->Detach(*this);
  for (int fd : files_) if (fd >= 0) close(fd);
}

void MountedDisk::SetUpReader(BlockReader* reader, uint8_t* work, uint64_t workSize) {
  VirtualDiskLayout withKey = layout_;
  WipedOnExit<VirtualDiskLayout> wipe{withKey};
  std::memcpy(withKey.Key, key_.Bytes.data(), key_.Bytes.size());
  InitBlockReader(reader, &withKey, {ReadFile, this}, work, workSize, 1);
  explicit_bzero(reader->Layout.Key, sizeof(reader->Layout.Key));  // its cipher holds what it needs
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

ReadStatus MountedDisk::Locate(uint32_t block, BlockLocation* location, Digest* digest) const {
  if (block >= layout_.BlockCount) return kReadBadRequest;
  uint8_t entry[kMaxIndexEntrySize];
  const uint32_t entrySize = IndexEntrySize(&layout_);
  uint32_t got = 0;
  if (!ReadFile(const_cast<MountedDisk*>(this), layout_.FileCount - 1u,
                layout_.IndexOffset + uint64_t(block) * entrySize, entry, entrySize, &got) ||
      got != entrySize)
    return kReadFileFailed;
  if (digest && layout_.FormatVersion >= kFirstVersionWithDigests)
    std::memcpy(digest->data(), entry + kEntryDigestOffset, digest->size());
  return CheckIndexEntry(&layout_, entry, location);
}

// The same rule as verify: the digest covers the block's bytes as decoded.
bool MountedDisk::DigestMatches(const BlockLocation& location, const Digest& digest,
                                const uint8_t* data, uint32_t length) {
  if (location.StoredLength == 0 && length == layout_.BlockSize) {
    std::call_once(zeroDigestOnce_, [&] {
      std::vector<uint8_t> zeros(layout_.BlockSize);
      zeroDigest_ = Md5(zeros.data(), zeros.size());
    });
    return zeroDigest_ == digest;
  }
  return Md5(data, length) == digest;
}

// Runs on a decode-ahead thread, or on the caller's when no thread got to the block first.
void MountedDisk::Produce(BlockReader* reader, uint32_t block, DecodedBlock& entry) {
  entry.Keep = !verbatimBlocks_;
  // A verbatim block is produced only to be checked (its bytes are served from its file): into
  // the reader's own block buffer, which nothing else here uses.
  const bool checkOnly = verbatimBlocks_ && checkDigests_;
  if (!checkOnly) entry.Data.resize(layout_.BlockSize);
  uint8_t* output = checkOnly ? reader->DecodedBlocks : entry.Data.data();
  reader->Slots[0].LastUse = 0;
  uint32_t available = 0;
  entry.Status = DecodeBlock(reader, block, output, &available);
  entry.Available = checkOnly ? 0 : available;
  if (entry.Status != kReadOk || !checkDigests_) return;
  BlockLocation location;
  Digest digest;
  entry.Status = Locate(block, &location, &digest);
  if (entry.Status != kReadOk) return;
  if (!DigestMatches(location, digest, output, available)) {
    entry.Status = kReadDataError;
    return;
  }
  if (verbatimBlocks_) checked_->Set(block);
}

// A verbatim block may be served once its digest matched.
ReadStatus MountedDisk::CheckedVerbatim(uint32_t block, const BlockLocation& location,
                                        const Digest& digest) {
  if (!checkDigests_ || checked_->Test(block)) return kReadOk;
  if (location.StoredLength == 0)
    return DigestMatches(location, digest, nullptr, layout_.BlockSize) ? kReadOk : kReadDataError;
  return pool_->Block(*this, block)->Status;
}

// Whether a request continues the last one: starts inside it (the rest of a request served in
// several pieces) or right after it.
bool MountedDisk::Sequential(uint32_t first, uint32_t last) {
  std::lock_guard lock(sequenceMutex_);
  const bool sequential = first >= requestFirst_ && first <= nextSequentialBlock_;
  requestFirst_ = first;
  nextSequentialBlock_ = last + 1;
  return sequential;
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

  BlockSpan span;
  ReadStatus status = BlocksOfRange(&layout_, offset, length, &span);
  if (status != kReadOk) return status;
  if (checkDigests_ && Sequential(span.First, span.Last))
    pool_->Ahead(*this, span.First, span.Last - span.First + 1 + pool_->ReadAheadBlocks());
  uint32_t from = span.FirstOffset;
  // Whole blocks as long as they continue the run: adjacent in one file, or zeros after zeros.
  StoredExtent run;
  for (uint32_t block = span.First; run.Length < length; ++block) {
    BlockLocation location;
    Digest digest{};
    status = Locate(block, &location, &digest);
    const uint32_t count = std::min(layout_.BlockSize - from, length - run.Length);
    StoredExtent piece{-1, 0, count};
    if (status == kReadOk && location.StoredLength != 0) {
      const uint32_t stored = std::min(location.StoredLength, layout_.BlockSize);
      status = from + count > stored ? kReadDataError  // the block is short
                                     : InFile(location.Slot, location.FileOffset + from, count, &piece);
    }
    if (status == kReadOk) status = CheckedVerbatim(block, location, digest);
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
  }
  *extent = run;
  return kReadOk;
}

ReadStatus MountedDisk::Read(uint64_t offset, uint32_t length, uint8_t* destination, uint64_t* failedAt) {
  if (SumOverflows(offset, length) || offset + length > layout_.DiskLength) {
    if (failedAt) *failedAt = offset;
    return kReadBadRequest;
  }
  while (length > 0) {
    StoredExtent extent;
    ReadStatus status = Extent(offset, length, &extent);
    if (status == kReadOk && extent.Length == 0) return ReadDecoded(offset, length, destination, failedAt);
    if (status == kReadOk && extent.File < 0)
      std::memset(destination, 0, extent.Length);
    else if (status == kReadOk && !PreadExactly(extent.File, destination, extent.Length, extent.Offset))
      status = kReadFileFailed;
    if (status != kReadOk) {
      if (failedAt) *failedAt = offset;
      return status;
    }
    offset += extent.Length;
    length -= extent.Length;
    destination += extent.Length;
  }
  return kReadOk;
}

// Blocks that must be decoded, through the shared cache.
ReadStatus MountedDisk::ReadDecoded(uint64_t offset, uint32_t length, uint8_t* destination,
                                    uint64_t* failedAt) {
  BlockSpan span;
  ReadStatus status = BlocksOfRange(&layout_, offset, length, &span);
  if (status != kReadOk) {
    if (failedAt) *failedAt = offset;
    return status;
  }
  // The request's own later blocks too: the threads decode them while this one copies.
  if (Sequential(span.First, span.Last))
    pool_->Ahead(*this, span.First + 1, span.Last - span.First + pool_->ReadAheadBlocks());
  uint32_t from = span.FirstOffset;
  uint32_t done = 0;
  for (uint32_t block = span.First; done < length; ++block) {
    std::shared_ptr<DecodedBlock> entry = pool_->Block(*this, block);
    uint32_t count = std::min(layout_.BlockSize - from, length - done);
    status = entry->Status;
    if (status == kReadOk && from + count > entry->Available) status = kReadDataError;  // came up short
    if (status != kReadOk) {
      if (failedAt) *failedAt = offset + done;
      return status;
    }
    std::memcpy(destination + done, entry->Data.data() + from, count);
    done += count;
    from = 0;
  }
  return kReadOk;
}

ReadStatus MountedDisk::ReadBlock(uint32_t block, std::vector<uint8_t>& data, BlockLocation* location) {
  Digest digest{};
  ReadStatus status = Locate(block, location, &digest);
  if (status != kReadOk) return status;
  if (Sequential(block, block)) pool_->Ahead(*this, block + 1, pool_->ReadAheadBlocks());
  if (verbatimBlocks_ && checkDigests_) {  // the pool checks it but keeps no bytes
    status = CheckedVerbatim(block, *location, digest);
    if (status != kReadOk) return status;
    DecodePool::Lease reader(*pool_, *this);
    uint32_t available = 0;
    data.resize(layout_.BlockSize);
    status = DecodeBlock(reader.get(), block, data.data(), &available);
    data.resize(available);
    return status;
  }
  std::shared_ptr<DecodedBlock> entry = pool_->Block(*this, block);
  if (entry->Status != kReadOk) return entry->Status;
  data.assign(entry->Data.begin(), entry->Data.begin() + entry->Available);
  return kReadOk;
}

int64_t MountedDisk::BlockAt(uint64_t offset) const {
  if (offset < layout_.RawLength) return -1;
  return int64_t((offset - layout_.RawLength) / layout_.BlockSize);
}
