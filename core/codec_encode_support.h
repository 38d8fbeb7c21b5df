// What both encoders share: the bounded output writer and the hash matcher's pieces.
#pragma once
#include <stdint.h>

#include "codec_copy.h"
#include "codec_encode.h"

namespace codec {

// Appends to a fixed buffer; once something does not fit it stays failed and writes nothing.
class OutputWriter {
 public:
  OutputWriter(uint8_t* buffer, uint32_t capacity) : buffer_(buffer), capacity_(capacity) {}

  bool Reserve(uint32_t count) {
    if (failed_ || count > capacity_ - size_) failed_ = true;
    return !failed_;
  }
  void Put(uint8_t byte) {
    if (Reserve(1)) buffer_[size_++] = byte;
  }
  void Put32(uint32_t value) {
    if (!Reserve(4)) return;
    StoreLe32(buffer_ + size_, value);
    size_ += 4;
  }
  void PutBytes(const uint8_t* bytes, uint32_t count) {
    if (!Reserve(count)) return;
    __builtin_memcpy(buffer_ + size_, bytes, count);
    size_ += count;
  }
  // Room for a value patched in later (a control word); returns its position.
  uint32_t Skip(uint32_t count) {
    const uint32_t at = size_;
    if (Reserve(count)) size_ += count;
    return at;
  }
  uint8_t* At(uint32_t position) { return buffer_ + position; }
  uint32_t Size() const { return size_; }
  bool Failed() const { return failed_; }

 private:
  uint8_t* buffer_;
  uint32_t capacity_;
  uint32_t size_ = 0;
  bool failed_ = false;
};

constexpr uint32_t kHashBits = 14;
static_assert(sizeof(CompressWorkspace::HashTable) / sizeof(uint32_t) == (1u << kHashBits));

inline uint32_t HashOf4(const uint8_t* p) { return (LoadLe32(p) * 2654435761u) >> (32 - kHashBits); }

// Starts every input from an empty table, so equal inputs give equal outputs.
inline void ClearWorkspace(CompressWorkspace* work) {
  __builtin_memset(work->HashTable, 0xFF, sizeof(work->HashTable));
}
constexpr uint32_t kNoPosition = 0xFFFFFFFFu;

// Index of the lowest nonzero byte of a nonzero x, in 32-bit halves: the x86 kernel build has
// no 64-bit count-trailing-zeros helper to link.
inline uint32_t FirstDifferentByte(uint64_t x) {
  const uint32_t low = static_cast<uint32_t>(x);
  if (low != 0) return static_cast<uint32_t>(__builtin_ctz(low)) >> 3;
  return 4 + (static_cast<uint32_t>(__builtin_ctz(static_cast<uint32_t>(x >> 32))) >> 3);
}

// Length of the common run of a and b, b ahead of a, up to limit bytes.
inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
  uint32_t n = 0;
  while (n + 8 <= limit) {
    uint64_t x, y;
    __builtin_memcpy(&x, a + n, 8);
    __builtin_memcpy(&y, b + n, 8);
    if (x != y) return n + FirstDifferentByte(x ^ y);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

}  // namespace codec
