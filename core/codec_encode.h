// Encoders for both stored-block formats, for the image writer, tests and benchmarks.
// The driver decodes only; nothing here is linked into it.
#pragma once
#include <stdint.h>

// Work memory for the encoders' hash matcher: the caller provides it, the core allocates nothing.
struct CompressWorkspace {
  uint32_t HashTable[1u << 14];
};

// Worst-case encoded sizes of length input bytes.
uint32_t Method1Bound(uint32_t length);
uint32_t ByteTokenBound(uint32_t length);

// Each returns the encoded size, or 0 when length is 0 (method 1) or capacity is too small.
// Method 1 falls back to a stored payload when coding does not pay off.
uint32_t CompressMethod1(const uint8_t* input, uint32_t length, uint8_t* output, uint32_t capacity,
                         CompressWorkspace* work);
uint32_t CompressByteTokens(const uint8_t* input, uint32_t length, uint8_t* output, uint32_t capacity,
                            CompressWorkspace* work);
