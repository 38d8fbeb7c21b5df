#include "password.h"

#include <algorithm>

#include "md5.h"

bool PasswordMatches(const Digest& storedDigest, const CStdString& entry) {
  return Md5(entry.data(), entry.size()) == storedDigest;
}

KeyField MakeKeyField(uint32_t passwordFlag, uint32_t cipherType, const CStdString& password) {
  KeyField field;
  field.CipherType = passwordFlag ? static_cast<uint16_t>(cipherType) : 0;
  // Cipher type n copies 8 << (n - 1) bytes: the AES key takes the rest as zeros.
  size_t copied = 0;
  switch (field.CipherType) {
    case 1: copied = 8; break;
    case 2: copied = 16; break;
    case 3: copied = 32; break;
    default: break;
  }
  std::copy_n(password.begin(), std::min(copied, password.size()), field.Key.begin());
  return field;
}

KeyField MakeKeyField(const CImageFile& image) {
  return MakeKeyField(image.PasswordFlag, image.CipherType, image.Password);
}
