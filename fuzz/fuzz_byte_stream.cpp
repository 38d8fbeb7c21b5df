// libFuzzer: byte-token streams into an exactly sized heap buffer (ASan sees any write past it).
// Input: 2 bytes of capacity (little-endian), then the stream. The same bytes also go through
// the encoder and must come back unchanged.
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "codec.h"
#include "codec_encode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t capacity = data[0] | (data[1] << 8);
  const std::vector<uint8_t> stream(data + 2, data + size);  // exact size: reads past it trap
  std::vector<uint8_t> output(capacity);
  uint32_t produced = 0;
  DecompressByteStream(stream.data(), static_cast<uint32_t>(stream.size()), output.data(),
                       capacity, &produced);
  if (produced > capacity) abort();

  static auto* work = new CompressWorkspace;
  std::vector<uint8_t> encoded(ByteTokenBound(static_cast<uint32_t>(stream.size())));
  const uint32_t encodedSize = CompressByteTokens(stream.data(), static_cast<uint32_t>(stream.size()),
                                                  encoded.data(), static_cast<uint32_t>(encoded.size()), work);
  encoded.resize(encodedSize);
  std::vector<uint8_t> decoded(stream.size());
  if (DecompressByteStream(encoded.data(), encodedSize, decoded.data(),
                           static_cast<uint32_t>(decoded.size()), &produced) != kDecodeOk ||
      produced != stream.size() || decoded != stream) {
    abort();
  }
  return 0;
}
