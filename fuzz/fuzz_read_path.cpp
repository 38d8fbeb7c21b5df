// libFuzzer: the read path over a crafted layout and block index. Input: a 64-byte header of
// layout values and two requests (little-endian), then the bytes every file slot holds. Each
// request, and the disk's start in 4 KiB reads, goes to an exactly sized heap buffer.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "block_reader.h"

namespace {

constexpr size_t kHeaderSize = 64;
constexpr uint32_t kMaxRequest = 256 << 10;
constexpr uint32_t kStartReads = 32;

struct Input {
  const uint8_t* At;
  template <typename T>
  T Take() {
    T value;
    memcpy(&value, At, sizeof value);
    At += sizeof value;
    return value;
  }
};

struct Files {
  const uint8_t* Bytes;
  size_t Size;
};

bool ReadAt(void* context, uint32_t, uint64_t offset, uint8_t* buffer, uint32_t length, uint32_t* bytesRead) {
  const auto* files = static_cast<const Files*>(context);
  *bytesRead = 0;
  if (offset >= files->Size) return true;
  const size_t available = files->Size - size_t(offset);
  *bytesRead = uint32_t(length < available ? length : available);
  memcpy(buffer, files->Bytes + offset, *bytesRead);
  return true;
}

void ReadInto(BlockReader* reader, uint64_t offset, uint32_t length) {
  std::vector<uint8_t> destination(length);
  ReadFailure failure{};
  const ReadStatus status = ReadVirtualDisk(reader, offset, length, destination.data(), &failure);
  if (status != kReadOk && status != kReadBadRequest && status != kReadFileFailed && status != kReadDataError)
    abort();
  // A failure names a block of the disk, or none.
  if (status != kReadOk && failure.Block != kNoBlock && failure.Block >= reader->Layout.BlockCount) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderSize) return 0;
  Input in{data};
  VirtualDiskLayout layout{};
  layout.FormatVersion = in.Take<uint16_t>();
  layout.BlockSize = in.Take<uint16_t>();  // up to 64 KiB keeps each run quick
  layout.BlockCount = in.Take<uint32_t>();
  layout.Compressed = in.Take<uint8_t>();
  layout.CipherType = in.Take<uint8_t>();
  layout.FileCount = in.Take<uint8_t>();
  layout.RawFileSlot = in.Take<uint8_t>();
  layout.SectorSize = 512;
  layout.DiskLength = in.Take<uint64_t>();
  layout.IndexOffset = in.Take<uint64_t>();
  layout.RawLength = in.Take<uint32_t>();
  layout.RawOffset = in.Take<uint32_t>();
  const uint64_t offsets[2] = {in.Take<uint64_t>(), in.Take<uint64_t>()};
  const uint32_t lengths[2] = {in.Take<uint32_t>() % kMaxRequest, in.Take<uint32_t>() % kMaxRequest};
  uint8_t key[kMaxKeyBytes];
  for (size_t i = 0; i < sizeof key; ++i) key[i] = uint8_t(i + 1);

  // The file slots' bytes in a buffer of their own size.
  const std::vector<uint8_t> bytes(data + kHeaderSize, data + size);
  Files files = {bytes.data(), bytes.size()};
  const uint64_t workSize = BlockReaderWorkSize(&layout, 2);
  if (workSize == 0) return 0;
  std::vector<uint8_t> work(workSize);
  BlockReader reader;
  if (!InitBlockReader(&reader, &layout, key, {ReadAt, &files}, work.data(), work.size(), 2)) abort();

  for (int i = 0; i < 2; ++i) ReadInto(&reader, offsets[i], lengths[i]);
  for (uint32_t i = 0; i < kStartReads && uint64_t(i) * 4096 < layout.DiskLength; ++i) ReadInto(&reader, i * 4096ull, 4096);
  return 0;
}
