#include <openssl/evp.h>

#include "md5.h"

struct Md5Stream::State {
  EVP_MD_CTX* Context = EVP_MD_CTX_new();
  bool Ok = Context && EVP_DigestInit_ex(Context, EVP_md5(), nullptr) == 1;
};

Md5Stream::Md5Stream() : state_(new State) {}

Md5Stream::~Md5Stream() {
  EVP_MD_CTX_free(state_->Context);
  delete state_;
}

void Md5Stream::Add(const void* data, size_t length) {
  state_->Ok = state_->Ok && EVP_DigestUpdate(state_->Context, data, length) == 1;
}

Digest Md5Stream::Finish() {
  Digest digest{};
  unsigned int size = 0;
  if (!state_->Ok || EVP_DigestFinal_ex(state_->Context, digest.data(), &size) != 1) digest.fill(0);
  state_->Ok = false;
  return digest;
}

Digest Md5(const void* data, size_t length) {
  Md5Stream stream;
  stream.Add(data, length);
  return stream.Finish();
}
