// MD5 (RFC 1321) as the catalogue, the block index and the password check carry it.
#pragma once
#include <cstddef>

#include "digest_stream.h"
#include "image_records.h"

// MD5 of data fed in pieces, so that a long region needs no buffer of its length.
class Md5Stream {
 public:
  Md5Stream() : stream_(DigestAlgorithm::Md5) {}
  void Add(const void* data, size_t length) { stream_.Add(data, length); }
  // A failure of the platform's service yields 16 zero bytes.
  Digest Finish();

 private:
  DigestStream stream_;
};

// A failure of the platform's service yields 16 zero bytes.
Digest Md5(const void* data, size_t length);
