// The password check's hash, through CryptoAPI as the Windows program has always done it.
#include <windows.h>
#include <wincrypt.h>

#include "md5.h"

Digest Md5(const void* data, size_t length) {
  Digest digest{};
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
    return digest;
  HCRYPTHASH hash = 0;
  if (CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
    DWORD size = static_cast<DWORD>(digest.size());
    // CryptHashData takes a DWORD length: feed larger inputs in pieces.
    const auto* bytes = static_cast<const BYTE*>(data);
    bool ok = true;
    while (ok && length > 0) {
      DWORD piece = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
      ok = CryptHashData(hash, bytes, piece, 0);
      bytes += piece;
      length -= piece;
    }
    if (!ok || !CryptGetHashParam(hash, HP_HASHVAL, digest.data(), &size, 0)) digest.fill(0);
    CryptDestroyHash(hash);
  }
  CryptReleaseContext(provider, 0);
  return digest;
}
