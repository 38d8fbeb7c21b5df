// The digests of a partition's bytes that export and verify print when asked (--hash), so that
// a copy can be checked with md5sum or sha256sum.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "digest_stream.h"

struct DigestRequest {
  bool Md5 = false;
  bool Sha256 = false;
  bool Any() const { return Md5 || Sha256; }
};

struct NamedDigest {
  std::string Name;  // "md5", "sha256"
  std::string Hex;   // lowercase, as md5sum and sha256sum print it
};

class ContentDigests {
 public:
  explicit ContentDigests(DigestRequest request);
  void Add(const void* data, size_t length);
  // Bytes that could not be read count as the zeros written in their place.
  void AddZeros(uint64_t length);
  // MD5 first, then SHA-256, of those requested. Once.
  std::vector<NamedDigest> Finish();

 private:
  std::optional<DigestStream> md5_, sha256_;
};
