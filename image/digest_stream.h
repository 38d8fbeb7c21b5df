// Message digests of data fed in pieces: OpenSSL's libcrypto, CryptoAPI on Windows.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

enum class DigestAlgorithm { Md5, Sha256 };

class DigestStream {
 public:
  explicit DigestStream(DigestAlgorithm algorithm);
  ~DigestStream();
  DigestStream(const DigestStream&) = delete;
  DigestStream& operator=(const DigestStream&) = delete;

  void Add(const void* data, size_t length);
  // 16 bytes for MD5, 32 for SHA-256; all zeros when the platform's service failed. Once.
  std::vector<uint8_t> Finish();

 private:
  struct State;
  State* state_;
  size_t length_;
};
