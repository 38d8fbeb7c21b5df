#include "file_data_writer_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// The granularity of the holes kept: a cluster of NTFS and a block of ext4 and tmpfs.
constexpr size_t kHoleBlock = 4096;

bool IsZero(const uint8_t* data, size_t length) {
  static const uint8_t zeros[kHoleBlock] = {};
  return memcmp(data, zeros, length) == 0;
}

}  // namespace

FileDataWriter::FileDataWriter(std::string path, bool sparse, int64_t size) : path_(std::move(path)), sparse_(sparse) {
  descriptor_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (descriptor_ < 0) {
    error_ = errno;
    return;
  }
  if (sparse_ && size > 0 && ftruncate(descriptor_, size) != 0) sparse_ = false;
}

FileDataWriter::~FileDataWriter() {
  if (descriptor_ >= 0) Abandon();
}

int FileDataWriter::WriteAll(const uint8_t* data, size_t length, uint64_t offset) {
  while (length) {
    const ssize_t written = pwrite(descriptor_, data, length, off_t(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return written < 0 ? errno : EIO;
    data += written;
    length -= size_t(written);
    offset += uint64_t(written);
  }
  return 0;
}

int FileDataWriter::Write(const uint8_t* data, size_t length, uint64_t offset) {
  end_ = std::max(end_, offset + length);
  if (!sparse_) return WriteAll(data, length, offset);
  // Runs of blocks that hold something, each in one write.
  size_t at = 0;
  while (at < length) {
    while (at < length && IsZero(data + at, std::min(kHoleBlock, length - at))) at += kHoleBlock;
    size_t run = at;
    while (run < length && !IsZero(data + run, std::min(kHoleBlock, length - run))) run += kHoleBlock;
    run = std::min(run, length);
    if (run > at)
      if (const int error = WriteAll(data + at, run - at, offset + at)) return error;
    at = run;
  }
  return 0;
}

int FileDataWriter::Finish() {
  // The file may have shrunk while it was read: its size is what was read.
  int error = 0;
  if (sparse_ && ftruncate(descriptor_, off_t(end_)) != 0) error = errno;
  if (close(descriptor_) != 0 && !error) error = errno;
  descriptor_ = -1;
  return error;
}

void FileDataWriter::Abandon() {
  if (descriptor_ >= 0) close(descriptor_);
  descriptor_ = -1;
  unlink(path_.c_str());
}
