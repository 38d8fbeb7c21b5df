// Password check against a catalogue's digest, the accepted password kept on its image, and the
// key field and cipher type a mount sends to the driver.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "image_file.h"
#include "image_format.h"

// MD5 of the entry's bytes equals the stored digest: exact, case and all.
bool PasswordMatches(const Digest& storedDigest, const CStdString& entry);

enum class PasswordEntry {
  Accepted,        // now image.Password
  NotWindows1252,  // holds a character the image's code page cannot hold
  Wrong,
};
// The one way a typed password (UTF-8) becomes an image's password: converted to Windows-1252,
// checked against the image's digest and, when it matches, kept as image.Password, from which
// the key field is made. The converted text is wiped when it is not kept.
PasswordEntry AcceptPassword(CImageFile& image, std::string_view utf8Entry);

// Zeros the text's bytes where they lie (a compiler may not drop it), then empties it.
void WipeText(std::string& text);

struct KeyField {
  std::array<uint8_t, kMaxKeyBytes> Key{};
  uint16_t CipherType = 0;  // 0 when the password flag is clear
};
// Cipher 1 copies 8 password bytes, 2 copies 16, 3 copies 32; the rest stays zero.
KeyField MakeKeyField(uint32_t passwordFlag, uint32_t cipherType, const CStdString& password);
KeyField MakeKeyField(const CImageFile& image);  // from its flag, cipher type and Password

// UTF-8 text to Windows-1252 bytes, the form images hold passwords in; nullopt when the text
// is not valid UTF-8 or holds a character that code page lacks.
std::optional<std::string> Utf8ToWindows1252(std::string_view utf8);

// Windows-1252 bytes to UTF-8, for showing stored texts; the five bytes the code page leaves
// undefined become U+FFFD.
std::string Windows1252ToUtf8(std::string_view bytes);
