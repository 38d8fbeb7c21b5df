#include "reparse_data.h"

#include <string_view>

namespace {
constexpr char AsciiLower(uint32_t c) {
  return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

// Drive letters only: a unit such as '?' or ':' never counts as one, whatever the caller passes.
bool SameLetter(uint32_t unit, char letter) {
  char lower = AsciiLower(unit);
  return unit < 0x80 && lower >= 'a' && lower <= 'z' &&
         lower == AsciiLower(static_cast<uint8_t>(letter));
}

uint16_t UnitAt(const uint8_t* buffer, size_t at) {
  return static_cast<uint16_t>(buffer[at] | buffer[at + 1] << 8);
}

void AppendUtf8(std::string& text, uint32_t codePoint) {
  if (codePoint < 0x80) {
    text += static_cast<char>(codePoint);
    return;
  }
  int extra = codePoint < 0x800 ? 1 : codePoint < 0x10000 ? 2 : 3;
  static constexpr uint8_t kLead[] = {0, 0xC0, 0xE0, 0xF0};
  text += static_cast<char>(kLead[extra] | codePoint >> (6 * extra));
  for (int k = extra - 1; k >= 0; --k)
    text += static_cast<char>(0x80 | (codePoint >> (6 * k) & 0x3F));
}

// Windows strips trailing dots and spaces from a path step, so "..." and ".. " climb as ".."
// does; a step of only dots and spaces is refused whatever its length.
bool NamesCurrentOrParent(std::string_view step) {
  return !step.empty() && step.find_first_not_of(". ") == std::string_view::npos;
}
}  // namespace

int RewriteReparseTargetLetter(uint8_t* buffer, size_t length, char virtualLetter,
                               char destinationLetter) {
  int rewritten = 0;
  for (size_t at : {kJunctionLetterAt, kSymbolicLinkLetterAt}) {
    if (length < at + 4 || !SameLetter(UnitAt(buffer, at), virtualLetter) ||
        UnitAt(buffer, at + 2) != ':')
      continue;
    buffer[at] = static_cast<uint8_t>(destinationLetter);
    buffer[at + 1] = 0;
    ++rewritten;
  }
  return rewritten;
}

std::optional<std::string> ReparseTargetText(const uint8_t* buffer, size_t length) {
  std::string text;
  for (size_t at = kJunctionLetterAt; at + 2 <= length; at += 2) {
    uint32_t unit = UnitAt(buffer, at);
    if (unit == 0) return text;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return std::nullopt;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      at += 2;
      uint32_t low = at + 2 <= length ? UnitAt(buffer, at) : 0;
      if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(text, unit);
  }
  return std::nullopt;
}

std::optional<std::string> ReparseTargetFolder(const uint8_t* buffer, size_t length,
                                               char destinationLetter) {
  std::optional<std::string> target = ReparseTargetText(buffer, length);
  if (!target || target->size() < 3 ||
      !SameLetter(static_cast<uint8_t>((*target)[0]), destinationLetter) ||
      target->compare(1, 2, ":\\") != 0)
    return std::nullopt;
  std::string_view below = std::string_view(*target).substr(3);
  if (below.find_first_not_of("\\/") == std::string_view::npos) return std::nullopt;
  for (size_t start = 0; start <= below.size();) {
    size_t end = below.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = below.size();
    std::string_view step = below.substr(start, end - start);
    if (NamesCurrentOrParent(step)) return std::nullopt;
    for (char c : step)
      if (static_cast<uint8_t>(c) < 0x20 || c == ':') return std::nullopt;
    start = end + 1;
  }
  return target;
}
