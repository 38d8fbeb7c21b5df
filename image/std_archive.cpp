#include "std_archive.h"

#include <algorithm>
#include <cstring>

#include "file_io.h"

namespace {
constexpr size_t kPiece = 1u << 20;

template <typename T>
T FromLittleEndian(const uint8_t* bytes) {
  std::make_unsigned_t<T> value = 0;
  for (size_t i = sizeof(T); i-- > 0;) value = static_cast<decltype(value)>(value << 8 | bytes[i]);
  return static_cast<T>(value);
}
}  // namespace

CStdArchive::CStdArchive(std::FILE* file, int32_t mode) : mode_(mode), file_(file) {
  if (file_ && SeekFile(file_, 0, SEEK_END) == 0) {
    size_ = std::max<int64_t>(TellFile(file_), 0);
    SeekFile(file_, 0, SEEK_SET);
  }
}

CStdArchive::~CStdArchive() {
  if (file_) std::fclose(file_);
}

size_t CStdArchive::Read(void* buffer, size_t n) {
  if (!file_) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  size_t total = 0;
  for (size_t i = 0; i < n / kPiece; ++i) {
    size_t got = std::fread(out + total, 1, kPiece, file_);
    total += got;
    if (got < kPiece) return total;
  }
  return total + std::fread(out + total, 1, n % kPiece, file_);
}

void CStdArchive::Seek(int64_t offset, Origin origin) {
  if (file_) SeekFile(file_, offset, origin);
}

int64_t CStdArchive::GetPosition() { return file_ ? TellFile(file_) : -1; }

int64_t CStdArchive::Remaining() {
  int64_t position = GetPosition();
  return position < 0 ? 0 : std::max<int64_t>(size_ - position, 0);
}

void CStdArchive::ReadExactly(void* value, size_t width, const char* message) {
  if (Read(value, width) != width) throw message;
}

#define HARVESTA_READ_VALUE(Type, message)            \
  CStdArchive& CStdArchive::operator>>(Type& value) { \
    uint8_t bytes[sizeof(Type)];                      \
    ReadExactly(bytes, sizeof bytes, message);        \
    value = FromLittleEndian<Type>(bytes);            \
    return *this;                                     \
  }

HARVESTA_READ_VALUE(uint8_t, "CStdArchive& operator>>(unsigned char& c)")
HARVESTA_READ_VALUE(char, "CStdArchive& operator>>(char& c)")
HARVESTA_READ_VALUE(uint16_t, "CStdArchive& operator>>(unsigned short& c)")
HARVESTA_READ_VALUE(int32_t, "CStdArchive& operator>>(int& n)")
HARVESTA_READ_VALUE(uint32_t, "CStdArchive& operator>>(unsigned long& ul)")
HARVESTA_READ_VALUE(uint64_t, "CStdArchive& operator>>(unsigned __int64 & n)")
HARVESTA_READ_VALUE(int64_t, "CStdArchive& operator>>(__int64 & n)")
#undef HARVESTA_READ_VALUE

uint32_t CStdArchive::ReadStringLength() {
  // 0xFFFE after the first 0xFF restarts the prefix once; the second time it is a length.
  for (bool restarted = false;; restarted = true) {
    uint8_t shortLength = 0;
    *this >> shortLength;
    if (shortLength < 0xFF) return shortLength;
    uint16_t wordLength = 0;
    *this >> wordLength;
    if (wordLength == 0xFFFE && !restarted) continue;
    if (wordLength < 0xFFFF) return wordLength;
    uint32_t length = 0;
    *this >> length;
    return length == 0xFFFFFFFF ? 0 : length;
  }
}

CStdArchive& CStdArchive::operator>>(CStdString& s) {
  constexpr size_t kChunk = 64 * 1024;
  uint32_t length = ReadStringLength();
  // Read as the characters come: the length may claim gigabytes of a sparse file, and only
  // the text before the first zero is kept, so what follows it is skipped, not held.
  s.clear();
  uint64_t left = length;
  while (left) {
    size_t piece = static_cast<size_t>(std::min<uint64_t>(left, kChunk));
    size_t kept = s.size();
    s.resize(kept + piece);
    size_t got = Read(s.data() + kept, piece);
    s.resize(kept + got);
    left -= got;
    size_t zero = s.find('\0', kept);
    if (zero != CStdString::npos) {
      s.resize(zero);
      if (left > static_cast<uint64_t>(Remaining())) {
        Seek(0, kEnd);
        left = 1;
      } else {
        Seek(static_cast<int64_t>(left), kCurrent);
        left = 0;
      }
      break;
    }
    if (got != piece) break;
  }
  if (left) throw "CStdArchive& operator>>(CStdString& s)";
  return *this;
}
