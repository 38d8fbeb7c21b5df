// The values of the image format that the read path, the writer and the tools all depend on:
// block index entries, method bytes, cipher types, block size limits. Freestanding.
#pragma once
#include <stdint.h>

// Block index entries. Versions 0 to 2 keep 12-byte entries (the file number in the offset
// word's top byte) followed by all the digests; from version 3 each entry carries its digest.
constexpr uint16_t kFirstVersionWithEntryDigests = 3;
constexpr uint32_t kIndexEntrySizeOld = 12;
constexpr uint32_t kIndexEntrySize = 30;
constexpr uint32_t kMaxIndexEntrySize = kIndexEntrySize;
constexpr uint32_t kBlockDigestSize = 16;
constexpr uint32_t kEntryDigestOffset = 8;  // in an entry from version 3

constexpr uint32_t IndexEntrySizeOf(uint16_t formatVersion) {
  return formatVersion < kFirstVersionWithEntryDigests ? kIndexEntrySizeOld : kIndexEntrySize;
}
// Index bytes per block: an old entry and its digest, or one entry.
constexpr uint32_t IndexBytesPerBlock(uint16_t formatVersion) {
  return formatVersion < kFirstVersionWithEntryDigests ? kIndexEntrySizeOld + kBlockDigestSize
                                                       : kIndexEntrySize;
}

// An entry's 32-bit length-and-method word.
constexpr uint32_t kStoredLengthMask = 0x00FFFFFF;
constexpr uint32_t kMethodShift = 24;
constexpr uint8_t kMethodByteTokens = 0;
constexpr uint8_t kMethodWordStream = 1;

// Block sizes the reader accepts; a stored length may reach twice the block size.
constexpr uint32_t kMaxBlockSize = 8u << 20;
// Block sizes the writer makes: twice the block size (a block that compresses badly) still
// fits the 24-bit stored length.
constexpr uint32_t kMaxWrittenBlockSize = 4u << 20;
static_assert(2 * uint64_t(kMaxWrittenBlockSize) <= kStoredLengthMask);
static_assert(kMaxWrittenBlockSize <= kMaxBlockSize);

// Cipher types 1, 2, 3: AES with a 128-, 192- or 256-bit key; 0 none.
constexpr uint16_t kMaxCipherType = 3;
constexpr uint32_t kMaxKeyBytes = 32;
constexpr int32_t CipherKeyBits(uint16_t cipherType) {
  return cipherType >= 1 && cipherType <= kMaxCipherType ? 64 + 64 * int32_t(cipherType) : 0;
}
