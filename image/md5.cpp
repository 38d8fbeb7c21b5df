#include "md5.h"

#include <algorithm>

Digest Md5Stream::Finish() {
  const std::vector<uint8_t> bytes = stream_.Finish();
  Digest digest{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), digest.size()), digest.begin());
  return digest;
}

Digest Md5(const void* data, size_t length) {
  Md5Stream stream;
  stream.Add(data, length);
  return stream.Finish();
}
