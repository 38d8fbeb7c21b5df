#include "file_data_pipeline_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

FileDataPipeline::FileDataPipeline(std::vector<std::string> paths, std::function<void(size_t file)> beforeData,
                                   size_t piecesInFlight)
    : paths_(std::move(paths)), beforeData_(std::move(beforeData)) {
  for (size_t at = 0; at < piecesInFlight; ++at) {
    buffers_.push_back(std::make_unique<uint8_t[]>(kDataPieceSize));
    freeBuffers_.push_back(at);
  }
  reader_ = std::thread([this] { Read(); });
}

FileDataPipeline::~FileDataPipeline() { Stop(); }

void FileDataPipeline::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (reader_.joinable()) reader_.join();
}

size_t FileDataPipeline::TakeBuffer() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return stopping_ || !freeBuffers_.empty(); });
  if (stopping_) return buffers_.size();
  const size_t buffer = freeBuffers_.back();
  freeBuffers_.pop_back();
  return buffer;
}

bool FileDataPipeline::Push(const DataPiece& piece) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return false;
    ready_.push_back(piece);
  }
  changed_.notify_all();
  return true;
}

void FileDataPipeline::Read() {
  for (size_t file = 0; file < paths_.size(); ++file) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    if (beforeData_) beforeData_(file);
    const int descriptor = open(paths_[file].c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
      if (!Push({file, 0, 0, true, errno, nullptr, buffers_.size()})) return;
      continue;
    }
    posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
    uint64_t offset = 0;
    for (;;) {
      const size_t buffer = TakeBuffer();
      if (buffer == buffers_.size()) {
        close(descriptor);
        return;
      }
      uint8_t* data = buffers_[buffer].get();
      // Fill the whole piece: the writer looks for holes in aligned blocks.
      size_t length = 0;
      int error = 0;
      while (length < kDataPieceSize) {
        const ssize_t got = read(descriptor, data + length, kDataPieceSize - length);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) error = errno;
        if (got <= 0) break;
        length += size_t(got);
      }
      const bool end = error || length < kDataPieceSize;
      if (!Push({file, offset, length, end, error, data, buffer})) {
        close(descriptor);
        return;
      }
      offset += length;
      if (end) break;
    }
    close(descriptor);
  }
}

DataPiece FileDataPipeline::Next() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !ready_.empty() || stopping_; });
  if (ready_.empty()) return {0, 0, 0, true, ECANCELED, nullptr, buffers_.size()};
  DataPiece piece = ready_.front();
  ready_.pop_front();
  return piece;
}

void FileDataPipeline::Release(const DataPiece& piece) {
  if (piece.Buffer >= buffers_.size()) return;
  {
    std::lock_guard lock(mutex_);
    freeBuffers_.push_back(piece.Buffer);
  }
  changed_.notify_all();
}

void FileDataPipeline::SkipRestOf(size_t file) {
  for (;;) {
    const DataPiece piece = Next();
    Release(piece);
    if (piece.End || piece.File != file) return;
  }
}
