#include "raw_bytes_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

class Descriptor {
 public:
  Descriptor(const std::string& path, int flags) : fd_(open(path.c_str(), flags | O_CLOEXEC)) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

bool ReadFully(int fd, uint64_t offset, uint8_t* data, size_t length) {
  while (length > 0) {
    const ssize_t got = pread(fd, data, length, off_t(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got, offset += uint64_t(got), length -= size_t(got);
  }
  return true;
}

}  // namespace

std::optional<std::vector<uint8_t>> ReadBytesAt(const std::string& path, uint64_t offset,
                                                size_t length) {
  Descriptor file(path, O_RDONLY);
  std::vector<uint8_t> bytes(length);
  if (file.Get() < 0 || !ReadFully(file.Get(), offset, bytes.data(), length)) return std::nullopt;
  return bytes;
}

std::optional<std::vector<uint8_t>> ReadSmallFile(const std::string& path, uint64_t maxSize) {
  Descriptor file(path, O_RDONLY);
  struct stat status {};
  if (file.Get() < 0 || fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_size <= 0 || uint64_t(status.st_size) > maxSize)
    return std::nullopt;
  std::vector<uint8_t> bytes(size_t(status.st_size));
  if (!ReadFully(file.Get(), 0, bytes.data(), bytes.size())) return std::nullopt;
  return bytes;
}

bool WriteBytesAt(const std::string& path, uint64_t offset, std::span<const uint8_t> bytes) {
  Descriptor file(path, O_WRONLY);
  if (file.Get() < 0) return false;
  const uint8_t* data = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t put = pwrite(file.Get(), data, left, off_t(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put, offset += uint64_t(put), left -= size_t(put);
  }
  return fsync(file.Get()) == 0;
}

bool IsNtfsBootSector(std::span<const uint8_t> sector) {
  return sector.size() >= 11 && std::memcmp(sector.data() + 3, "NTFS    ", 8) == 0;
}
