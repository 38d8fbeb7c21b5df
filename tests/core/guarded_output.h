// The output area of a codec test: capacity bytes pre-filled with one value, then a guard
// region holding another. A write past the capacity shows in the guard even when the bytes
// written are copies of output not yet written (those hold the fill, never the guard value).
#pragma once
#include <stdint.h>

#include <vector>

struct GuardedOutput {
  static constexpr uint8_t kUnwritten = 0x6E;
  static constexpr uint8_t kGuard = 0xC3;
  static constexpr size_t kGuardBytes = 64;

  explicit GuardedOutput(size_t capacity) : Capacity(capacity), Bytes(capacity, kUnwritten) {
    Bytes.insert(Bytes.end(), kGuardBytes, kGuard);
  }

  uint8_t* Data() { return Bytes.data(); }

  // Offset past the capacity of the first guard byte that changed, or -1.
  long FirstChangedGuardByte() const {
    for (size_t i = Capacity; i < Bytes.size(); ++i)
      if (Bytes[i] != kGuard) return static_cast<long>(i - Capacity);
    return -1;
  }

  // The first count bytes, the rest (guard included) dropped.
  std::vector<uint8_t> Take(size_t count) && {
    Bytes.resize(count);
    return std::move(Bytes);
  }

  size_t Capacity;
  std::vector<uint8_t> Bytes;
};
