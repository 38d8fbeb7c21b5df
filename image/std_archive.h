// CStdArchive: the loading side of the binary serialization every catalogue is read through.
// Values are the little-endian bytes of their width, one after another; only strings carry a
// length prefix. Failures throw `const char*` holding the operator's message.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

using CStdString = std::string;  // 8-bit characters in the system's ANSI code page

class CStdArchive {
 public:
  enum Origin { kBegin = SEEK_SET, kCurrent = SEEK_CUR, kEnd = SEEK_END };

  // Takes ownership of file (opened "rb"); mode 0 means storing, anything else loading.
  CStdArchive(std::FILE* file, int32_t mode = 1);
  ~CStdArchive();
  CStdArchive(const CStdArchive&) = delete;
  CStdArchive& operator=(const CStdArchive&) = delete;

  bool IsStoring() const { return mode_ == 0; }
  uint16_t Version() const { return version_; }
  void SetVersion(uint16_t version) { version_ = version; }

  CStdArchive& operator>>(uint8_t& c);
  CStdArchive& operator>>(char& c);
  CStdArchive& operator>>(uint16_t& c);
  CStdArchive& operator>>(int32_t& n);
  CStdArchive& operator>>(uint32_t& ul);
  CStdArchive& operator>>(uint64_t& n);
  CStdArchive& operator>>(int64_t& n);
  // Holds no more than the characters the file really delivers, up to the first zero byte.
  CStdArchive& operator>>(CStdString& s);

  // Reads up to n bytes in pieces of at most 1 MiB; returns the count read, never throws.
  size_t Read(void* buffer, size_t n);
  void Seek(int64_t offset, Origin origin);
  int64_t GetPosition();
  // Size of the file and the bytes from the position to its end: the bounds every count
  // and length read from a catalogue is checked against.
  int64_t FileSize() const { return size_; }
  int64_t Remaining();

 private:
  uint32_t ReadStringLength();
  void ReadExactly(void* value, size_t width, const char* message);

  int32_t mode_;
  std::FILE* file_;
  uint16_t version_ = 0;
  int64_t size_ = 0;
};
