#include <cstdint>

#include "password.h"

namespace {
// Code points of bytes 0x80-0x9F; 0 marks the five bytes the code page leaves undefined.
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::optional<char> ToWindows1252(uint32_t codePoint) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF))
    return static_cast<char>(codePoint);
  for (int i = 0; i < 32; ++i)
    if (kHighControls[i] && kHighControls[i] == codePoint) return static_cast<char>(0x80 + i);
  return std::nullopt;
}

// Decodes one UTF-8 sequence at text[i], advancing i; nullopt for malformed input.
std::optional<uint32_t> NextCodePoint(std::string_view text, size_t& i) {
  auto lead = static_cast<uint8_t>(text[i++]);
  if (lead < 0x80) return lead;
  int extra = lead >= 0xF0 && lead <= 0xF4 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : -1;
  if (extra < 0 || lead > 0xF4 || text.size() - i < static_cast<size_t>(extra)) return std::nullopt;
  uint32_t codePoint = lead & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    auto next = static_cast<uint8_t>(text[i++]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    codePoint = codePoint << 6 | (next & 0x3F);
  }
  static constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  if (codePoint < kSmallest[extra] || codePoint > 0x10FFFF ||
      (codePoint >= 0xD800 && codePoint <= 0xDFFF))
    return std::nullopt;
  return codePoint;
}
}  // namespace

std::optional<std::string> Utf8ToWindows1252(std::string_view utf8) {
  std::string bytes;
  for (size_t i = 0; i < utf8.size();) {
    auto codePoint = NextCodePoint(utf8, i);
    if (!codePoint) return std::nullopt;
    auto byte = ToWindows1252(*codePoint);
    if (!byte) return std::nullopt;
    bytes += *byte;
  }
  return bytes;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string text;
  for (char c : bytes) {
    auto byte = static_cast<uint8_t>(c);
    uint32_t codePoint = byte;
    if (byte >= 0x80 && byte < 0xA0) codePoint = kHighControls[byte - 0x80] ? kHighControls[byte - 0x80] : 0xFFFD;
    if (codePoint < 0x80) {
      text += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
      text += static_cast<char>(0xC0 | codePoint >> 6);
      text += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
      text += static_cast<char>(0xE0 | codePoint >> 12);
      text += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
  }
  return text;
}
