#include "password.h"

#include <algorithm>

#include "md5.h"

bool PasswordMatches(const Digest& storedDigest, const CStdString& entry) {
  return Md5(entry.data(), entry.size()) == storedDigest;
}

PasswordEntry AcceptPassword(CImageFile& image, std::string_view utf8Entry) {
  std::optional<std::string> entry = Utf8ToWindows1252(utf8Entry);
  if (!entry) return PasswordEntry::NotWindows1252;
  if (!PasswordMatches(image.PasswordDigest, *entry)) {
    WipeText(*entry);
    return PasswordEntry::Wrong;
  }
  WipeText(image.Password);
  image.Password.assign(entry->data(), entry->size());  // a move could leave the bytes behind
  WipeText(*entry);
  return PasswordEntry::Accepted;
}

void WipeText(std::string& text) {
  volatile char* bytes = text.data();
  for (size_t i = 0; i < text.size(); ++i) bytes[i] = 0;
  text.clear();
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
