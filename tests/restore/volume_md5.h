// volume_md5 SOURCE-ROOT OUTPUT-FILE: the copy command of the end-to-end restore. Wine mounts no
// file system on a virtual drive, so in place of copying files it reads the drive's raw volume
// ("X:\" opens as "\\.\X:") and writes the hex MD5 of all of it to OUTPUT-FILE.
#pragma once
#include <cstdio>
#include <string>

#include "image_records.h"

// Its exit codes: 0 when the MD5 was written.
inline constexpr int kVolumeMd5Usage = 2;
inline constexpr int kVolumeMd5NotOpened = 3;
inline constexpr int kVolumeMd5NoLength = 4;
inline constexpr int kVolumeMd5ReadFailed = 5;  // nothing is written then
inline constexpr int kVolumeMd5NotWritten = 6;

// 32 lower-case hex digits.
inline std::string HexDigest(const Digest& digest) {
  std::string text;
  char pair[3];
  for (const uint8_t byte : digest) {
    snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}
