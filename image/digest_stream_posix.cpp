#include <openssl/evp.h>

#include "digest_stream.h"

struct DigestStream::State {
  EVP_MD_CTX* Context = EVP_MD_CTX_new();
  bool Ok = false;
};

DigestStream::DigestStream(DigestAlgorithm algorithm)
    : state_(new State), length_(algorithm == DigestAlgorithm::Md5 ? 16 : 32) {
  const EVP_MD* type = algorithm == DigestAlgorithm::Md5 ? EVP_md5() : EVP_sha256();
  state_->Ok = state_->Context && EVP_DigestInit_ex(state_->Context, type, nullptr) == 1;
}

DigestStream::~DigestStream() {
  EVP_MD_CTX_free(state_->Context);
  delete state_;
}

void DigestStream::Add(const void* data, size_t length) {
  state_->Ok = state_->Ok && EVP_DigestUpdate(state_->Context, data, length) == 1;
}

std::vector<uint8_t> DigestStream::Finish() {
  std::vector<uint8_t> digest(length_);
  unsigned int size = 0;
  if (!state_->Ok || EVP_DigestFinal_ex(state_->Context, digest.data(), &size) != 1 ||
      size != length_)
    digest.assign(length_, 0);
  state_->Ok = false;
  return digest;
}
