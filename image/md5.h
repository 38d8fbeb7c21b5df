// MD5 (RFC 1321): CryptoAPI on Windows, OpenSSL's libcrypto elsewhere.
#pragma once
#include <cstddef>

#include "image_records.h"

// MD5 of data fed in pieces, so that a long region needs no buffer of its length.
class Md5Stream {
 public:
  Md5Stream();
  ~Md5Stream();
  Md5Stream(const Md5Stream&) = delete;
  Md5Stream& operator=(const Md5Stream&) = delete;

  void Add(const void* data, size_t length);
  // A failure of the platform's service yields 16 zero bytes.
  Digest Finish();

 private:
  struct State;
  State* state_;
};

// A failure of the platform's service yields 16 zero bytes.
Digest Md5(const void* data, size_t length);
