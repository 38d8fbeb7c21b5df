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
  workSize_ = BlockReaderWorkSize(&layout_, 1);
  if (workSize_ == 0) throw MountedDiskError("the mount record is not valid");

  files_.assign(layout_.FileCount, -1);
  paths_.assign(layout_.FileCount, {});
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
    paths_[entry.Slot] = path;
  }
  try {
    // The files do not change while mounted: a range past the end fails before any read.
    fileSizes_.assign(files_.size(), 0);
    for (size_t slot = 0; slot < files_.size(); ++slot) {
      struct stat status;
      if (files_[slot] >= 0 && fstat(files_[slot], &status) == 0) fileSizes_[slot] = uint64_t(status.st_size);
    }
    verbatimBlocks_ = layout_.Compressed == 0 && layout_.CipherType == 0;
    checkDigests_ = options.CheckDigests && layout_.FormatVersion >= kFirstVersionWithEntryDigests;
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
  std::memcpy(key_.Bytes.data(), parsed.Key, key_.Bytes.size());
}

MountedDisk::~MountedDisk() {
  pool_->Detach(*this);
  for (int fd : files_) if (fd >= 0) close(fd);
}

void MountedDisk::SetUpReader(BlockReader* reader, uint8_t* work, uint64_t workSize) {
  InitBlockReader(reader, &layout_, key_.Bytes.data(), {ReadFile, this}, work, workSize, 1);
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
      got != entrySize) {
    location->Slot = layout_.FileCount - 1u;
    return kReadFileFailed;
  }
  if (digest && layout_.FormatVersion >= kFirstVersionWithEntryDigests)
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
  ReadFailure failure{0, block, kNoSlot};
  entry.Status = DecodeBlock(reader, block, output, &available, &failure);
  entry.FailedSlot = failure.Slot;
  entry.Available = checkOnly ? 0 : available;
  if (entry.Status != kReadOk || !checkDigests_) return;
  BlockLocation location;
  Digest digest;
  entry.Status = Locate(block, &location, &digest);
  if (entry.Status != kReadOk) return;
  if (!DigestMatches(location, digest, output, available)) {
    entry.Status = kReadDataError;
    if (location.StoredLength != 0) entry.FailedSlot = location.Slot;
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

ReadStatus MountedDisk::LocateServable(void* context, uint32_t block, BlockLocation* location) {
  MountedDisk& disk = *static_cast<MountedDisk*>(context);
  Digest digest{};
  ReadStatus status = disk.Locate(block, location, &digest);
  // A block to decode is checked where it is produced.
  if (status != kReadOk || (!disk.verbatimBlocks_ && location->StoredLength != 0)) return status;
  return disk.CheckedVerbatim(block, *location, digest);
}

// The request's later blocks: the threads produce them while this one serves the first.
void MountedDisk::DecodeAhead(uint64_t offset, uint32_t length) {
  if (verbatimBlocks_ && !checkDigests_) return;  // nothing to produce
  const uint64_t end = offset + length;
  if (end <= layout_.RawLength) return;
  const uint64_t start = std::max(offset, layout_.RawLength);
  BlockSpan span;
  if (BlocksOfRange(&layout_, start, uint32_t(end - start), &span) != kReadOk) return;
  if (Sequential(span.First, span.Last))
    pool_->Ahead(*this, span.First + 1, span.Last - span.First + pool_->ReadAheadBlocks());
}

ReadStatus MountedDisk::ServablePiece(uint64_t offset, uint32_t length, DiskPiece* piece,
                                      ReadFailure* failure) {
  ReadStatus status = FirstPiece(&layout_, {LocateServable, this}, offset, length, piece, failure);
  if (status != kReadOk || (piece->Kind != kPieceRaw && piece->Kind != kPieceVerbatim)) return status;
  const uint64_t fileSize = files_[piece->Slot] < 0 ? 0 : fileSizes_[piece->Slot];
  const uint64_t inFile = fileSize > piece->FileOffset ? fileSize - piece->FileOffset : 0;
  if (inFile >= piece->Length) return kReadOk;
  // The blocks before the first that runs past the end of its file; the next call reports it.
  const uint32_t firstPart = std::min(layout_.BlockSize - piece->BlockOffset, piece->Length);
  uint64_t keep = 0;
  if (piece->Kind == kPieceVerbatim && inFile >= firstPart)
    keep = firstPart + (inFile - firstPart) / layout_.BlockSize * layout_.BlockSize;
  if (keep == 0) {
    if (failure) *failure = {offset, piece->Block, piece->Slot};
    return kReadFileFailed;
  }
  piece->Length = uint32_t(keep);
  return kReadOk;
}

ReadStatus MountedDisk::Extent(uint64_t offset, uint32_t length, StoredExtent* extent) {
  *extent = {};
  if (SumOverflows(offset, length) || offset + length > layout_.DiskLength) return kReadBadRequest;
  if (length == 0) return kReadOk;
  if (verbatimBlocks_) DecodeAhead(offset, length);  // else Read follows, and looks ahead
  DiskPiece piece;
  ReadStatus status = ServablePiece(offset, length, &piece, nullptr);
  if (status != kReadOk || piece.Kind == kPieceDecode) return status;
  *extent = {piece.Kind == kPieceZeros ? -1 : files_[piece.Slot], piece.FileOffset, piece.Length};
  return kReadOk;
}

ReadStatus MountedDisk::Read(uint64_t offset, uint32_t length, uint8_t* destination, ReadFailure* failure) {
  if (SumOverflows(offset, length) || offset + length > layout_.DiskLength) {
    if (failure) *failure = {offset, kNoBlock, kNoSlot};
    return kReadBadRequest;
  }
  if (length > 0) DecodeAhead(offset, length);
  const PieceServer server = {
      [](void* disk, uint64_t at, uint32_t count, DiskPiece* piece, ReadFailure* failed) {
        return static_cast<MountedDisk*>(disk)->ServablePiece(at, count, piece, failed);
      },
      [](void* disk, const DiskPiece* piece, uint8_t* to, ReadFailure* failed) {
        return static_cast<MountedDisk*>(disk)->ServePiece(*piece, to, failed);
      },
      this};
  return ServePieces(server, offset, length, destination, failure);
}

ReadStatus MountedDisk::ServePiece(const DiskPiece& piece, uint8_t* destination, ReadFailure* failure) {
  if (piece.Kind == kPieceZeros) {
    std::memset(destination, 0, piece.Length);
    return kReadOk;
  }
  if (piece.Kind == kPieceDecode) return ReadDecoded(piece, destination, failure);
  if (PreadExactly(files_[piece.Slot], destination, piece.Length, piece.FileOffset)) return kReadOk;
  if (failure) *failure = {piece.DiskOffset, piece.Block, piece.Slot};
  return kReadFileFailed;
}

// Part of one block that must be decoded, through the shared cache.
ReadStatus MountedDisk::ReadDecoded(const DiskPiece& piece, uint8_t* destination, ReadFailure* failure) {
  std::shared_ptr<DecodedBlock> entry = pool_->Block(*this, piece.Block);
  ReadStatus status = entry->Status;
  uint32_t slot = entry->FailedSlot;
  if (status == kReadOk && piece.BlockOffset + piece.Length > entry->Available) {  // came up short
    status = kReadDataError;
    slot = piece.Location.Slot;
  }
  if (status != kReadOk) {
    if (failure) *failure = {piece.DiskOffset, piece.Block, slot};
    return status;
  }
  std::memcpy(destination, entry->Data.data() + piece.BlockOffset, piece.Length);
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
    status = DecodeBlock(reader.get(), block, data.data(), &available, nullptr);
    data.resize(available);
    return status;
  }
  std::shared_ptr<DecodedBlock> entry = pool_->Block(*this, block);
  if (entry->Status != kReadOk) return entry->Status;
  data.assign(entry->Data.begin(), entry->Data.begin() + entry->Available);
  return kReadOk;
}

std::string MountedDisk::FailureText(const ReadFailure& failure) const {
  const std::string file = failure.Slot < paths_.size() && !paths_[failure.Slot].empty()
                               ? " in " + paths_[failure.Slot]
                           : failure.Slot != kNoSlot ? " in file " + std::to_string(failure.Slot)
                                                     : std::string();
  const std::string where = failure.Block != kNoBlock ? "block " + std::to_string(failure.Block)
                            : failure.Offset < layout_.RawLength ? std::string("raw region")
                                                                 : std::string("past the disk");
  return "bytes at offset " + std::to_string(failure.Offset) + " (" + where + file + ")";
}
