// Block decompression: the two stored-block formats of an image.
//   method 1      a small header and a payload either stored or coded with 32-bit control words
//   other methods the byte-token stream (bit-compatible with LZO1C)
// Pure functions: no allocation, no global state. Every write is bounded by the capacity given
// and every read by the input given; a stream that would pass either is refused.
#pragma once
#include <stdint.h>

enum DecodeResult : int32_t {
  kDecodeOk = 0,
  kMethod1HeaderRejected = -1,  // method 1: header does not fit input or capacity
  kMethod1PayloadDamaged = -2,  // method 1: coded payload broke a bound while decoding
  kInputOverrun = -4,           // a count or token needs more input than is left
  kOutputOverrun = -5,          // the stream would write past the capacity
  kLookbehindOverrun = -6,      // a match reaches before the start of the output
  kEndMarkerMissing = -7,       // the input ended without an end marker
  kInputNotConsumed = -8,       // the end marker came before the end of the input
};

// Decodes one stored block by its method byte. On entry *capacity is the room at output; on
// return it holds the decompressed size (method 1) or the bytes produced (byte tokens).
int32_t DecompressBlock(uint8_t method, const uint8_t* input, uint32_t inputLength,
                        uint8_t* output, uint32_t* capacity);

// Method-1 coded payload of payloadLength bytes into exactly decompressedSize bytes at output.
// totalSize is the header's total block size; outputStart is the lowest byte a match may reach.
// Returns false when the payload broke a bound (what was written so far stays written).
bool DecompressWordStream(const uint8_t* payload, uint32_t payloadLength, uint8_t* output,
                          uint32_t decompressedSize, uint32_t totalSize, const uint8_t* outputStart);

// Byte-token stream into at most capacity bytes; *produced is set on every return.
int32_t DecompressByteStream(const uint8_t* input, uint32_t inputLength, uint8_t* output,
                             uint32_t capacity, uint32_t* produced);
