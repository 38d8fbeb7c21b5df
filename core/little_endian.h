// Little-endian loads and stores of the widths the image files, the block formats and the
// mount record use. Freestanding, so the kernel build and the user-mode code load one way.
#pragma once
#include <stdint.h>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the stored formats are little-endian");

// Unaligned: a byte copy the compiler turns into one load or store.
inline uint16_t LoadLe16(const uint8_t* bytes) {
  uint16_t value;
  __builtin_memcpy(&value, bytes, 2);
  return value;
}
inline uint32_t LoadLe32(const uint8_t* bytes) {
  uint32_t value;
  __builtin_memcpy(&value, bytes, 4);
  return value;
}
inline uint64_t LoadLe64(const uint8_t* bytes) {
  uint64_t value;
  __builtin_memcpy(&value, bytes, 8);
  return value;
}
inline void StoreLe32(uint8_t* bytes, uint32_t value) { __builtin_memcpy(bytes, &value, 4); }
