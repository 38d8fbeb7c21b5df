// libFuzzer: method-1 blocks through DecompressBlock into an exactly sized heap buffer (ASan sees
// any write past it). Input: 2 bytes of capacity (little-endian), then the block. The same bytes
// also go through the encoder and must come back unchanged.
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "codec.h"
#include "codec_encode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t capacity = data[0] | (data[1] << 8);
  const std::vector<uint8_t> block(data + 2, data + size);
  std::vector<uint8_t> output(capacity);
  uint32_t decoded = capacity;
  const int32_t code = DecompressBlock(1, block.data(), static_cast<uint32_t>(block.size()),
                                       output.data(), &decoded);
  if (code != kMethod1HeaderRejected && decoded > capacity) abort();

  if (block.empty()) return 0;
  static auto* work = new CompressWorkspace;
  const uint32_t length = static_cast<uint32_t>(block.size());
  std::vector<uint8_t> encoded(Method1Bound(length));
  encoded.resize(CompressMethod1(block.data(), length, encoded.data(),
                                 static_cast<uint32_t>(encoded.size()), work));
  std::vector<uint8_t> roundTrip(length);
  uint32_t roundTripSize = length;
  if (DecompressBlock(1, encoded.data(), static_cast<uint32_t>(encoded.size()), roundTrip.data(),
                      &roundTripSize) != kDecodeOk ||
      roundTripSize != length || roundTrip != block) {
    abort();
  }
  return 0;
}
