// One stored block by its method byte: method 1 has a small header in front of a stored or
// coded payload; every other method is a byte-token stream.
#include "codec.h"
#include "codec_copy.h"
#include "image_format.h"

namespace {

constexpr uint8_t kFlagCoded = 1;
constexpr uint8_t kFlagLongHeader = 2;

int32_t DecompressMethod1(const uint8_t* input, uint32_t inputLength, uint8_t* output,
                          uint32_t* capacity) {
  if (inputLength < 1) return kMethod1HeaderRejected;
  const uint8_t flags = input[0];
  const uint32_t width = (flags & kFlagLongHeader) ? 4 : 1;
  const uint32_t headerLength = 2 * width + 1;
  // The size field is also refused when the four bytes at its place are all 0xFF.
  if (inputLength < width + 5) return kMethod1HeaderRejected;
  if (LoadLe32(input + 1 + width) == 0xFFFFFFFFu) return kMethod1HeaderRejected;
  const uint32_t totalSize = width == 4 ? LoadLe32(input + 1) : input[1];
  const uint32_t size = width == 4 ? LoadLe32(input + 1 + width) : input[1 + width];
  if (size > *capacity) return kMethod1HeaderRejected;

  const uint8_t* payload = input + headerLength;
  const uint32_t payloadLength = inputLength - headerLength;
  if (flags & kFlagCoded) {
    const bool intact =
        DecompressWordStream(payload, payloadLength, output, size, totalSize, output);
    *capacity = size;
    return intact ? kDecodeOk : kMethod1PayloadDamaged;
  }
  if (size > payloadLength) return kMethod1HeaderRejected;
  __builtin_memcpy(output, payload, size);
  *capacity = size;
  return kDecodeOk;
}

}  // namespace

int32_t DecompressBlock(uint8_t method, const uint8_t* input, uint32_t inputLength,
                        uint8_t* output, uint32_t* capacity) {
  if (method == kMethodWordStream) return DecompressMethod1(input, inputLength, output, capacity);
  uint32_t produced = 0;
  const int32_t result = DecompressByteStream(input, inputLength, output, *capacity, &produced);
  *capacity = produced;
  return result;
}
