// The password check's hash, through CryptoAPI as the Windows program has always done it.
#include <windows.h>
#include <wincrypt.h>

#include "md5.h"

struct Md5Stream::State {
  HCRYPTPROV Provider = 0;
  HCRYPTHASH Hash = 0;
  bool Ok = false;
};

Md5Stream::Md5Stream() : state_(new State) {
  state_->Ok = CryptAcquireContextA(&state_->Provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
               CryptCreateHash(state_->Provider, CALG_MD5, 0, 0, &state_->Hash);
}

Md5Stream::~Md5Stream() {
  if (state_->Hash) CryptDestroyHash(state_->Hash);
  if (state_->Provider) CryptReleaseContext(state_->Provider, 0);
  delete state_;
}

void Md5Stream::Add(const void* data, size_t length) {
  // CryptHashData takes a DWORD length: feed larger inputs in pieces.
  const auto* bytes = static_cast<const BYTE*>(data);
  while (state_->Ok && length > 0) {
    DWORD piece = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
    state_->Ok = CryptHashData(state_->Hash, bytes, piece, 0);
    bytes += piece;
    length -= piece;
  }
}

Digest Md5Stream::Finish() {
  Digest digest{};
  DWORD size = static_cast<DWORD>(digest.size());
  if (!state_->Ok || !CryptGetHashParam(state_->Hash, HP_HASHVAL, digest.data(), &size, 0)) digest.fill(0);
  state_->Ok = false;
  return digest;
}

Digest Md5(const void* data, size_t length) {
  Md5Stream stream;
  stream.Add(data, length);
  return stream.Finish();
}
