#include <openssl/evp.h>

#include "md5.h"

Digest Md5(const void* data, size_t length) {
  Digest digest{};
  unsigned int size = 0;
  if (EVP_Digest(data, length, digest.data(), &size, EVP_md5(), nullptr) != 1) digest.fill(0);
  return digest;
}
