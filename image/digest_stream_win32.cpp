// MD5 through the provider the password check has always used; SHA-256 needs the AES one.
#include <windows.h>
// wincrypt.h needs the types of windows.h first.
#include <wincrypt.h>

#include "digest_stream.h"

struct DigestStream::State {
  HCRYPTPROV Provider = 0;
  HCRYPTHASH Hash = 0;
  bool Ok = false;
};

DigestStream::DigestStream(DigestAlgorithm algorithm)
    : state_(new State), length_(algorithm == DigestAlgorithm::Md5 ? 16 : 32) {
  const bool md5 = algorithm == DigestAlgorithm::Md5;
  state_->Ok =
      CryptAcquireContextA(&state_->Provider, nullptr, nullptr, md5 ? PROV_RSA_FULL : PROV_RSA_AES,
                           CRYPT_VERIFYCONTEXT) &&
      CryptCreateHash(state_->Provider, md5 ? CALG_MD5 : CALG_SHA_256, 0, 0, &state_->Hash);
}

DigestStream::~DigestStream() {
  if (state_->Hash) CryptDestroyHash(state_->Hash);
  if (state_->Provider) CryptReleaseContext(state_->Provider, 0);
  delete state_;
}

void DigestStream::Add(const void* data, size_t length) {
  // CryptHashData takes a DWORD length: feed larger inputs in pieces.
  const auto* bytes = static_cast<const BYTE*>(data);
  while (state_->Ok && length > 0) {
    DWORD piece = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
    state_->Ok = CryptHashData(state_->Hash, bytes, piece, 0);
    bytes += piece;
    length -= piece;
  }
}

std::vector<uint8_t> DigestStream::Finish() {
  std::vector<uint8_t> digest(length_);
  DWORD size = static_cast<DWORD>(length_);
  if (!state_->Ok || !CryptGetHashParam(state_->Hash, HP_HASHVAL, digest.data(), &size, 0) ||
      size != length_)
    digest.assign(length_, 0);
  state_->Ok = false;
  return digest;
}
