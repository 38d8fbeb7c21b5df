// Test-only writers that spell out every token kind of both block formats by hand, so tests
// can reach forms the encoders never choose.
#pragma once
#include <stdint.h>

#include <vector>

namespace tokens {

inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Method-1 payload: items with their flags gathered into control words.
class WordStream {
 public:
  WordStream() { NewWord(); }

  WordStream& Literal(uint8_t b) { return Item(false, {b}); }
  WordStream& Literals(const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) Literal(b);
    return *this;
  }
  WordStream& Match1(uint32_t offset) { return Item(true, Le(offset << 2, 1)); }
  WordStream& Match2Short(uint32_t offset) { return Item(true, Le((offset << 2) | 1, 2)); }
  WordStream& Match2(uint32_t offset, uint32_t length) {
    return Item(true, Le((offset << 6) | ((length - 3) << 2) | 2, 2));
  }
  WordStream& Match3(uint32_t offset, uint32_t length) {
    return Item(true, Le((offset << 8) | ((length - 3) << 3) | 3, 3));
  }
  WordStream& Match4(uint32_t offset, uint32_t length) {
    return Item(true, Le((offset << 15) | ((length - 3) << 4) | 7, 4));
  }
  WordStream& Match12(uint32_t offset, uint32_t length) {
    std::vector<uint8_t> t = Le(7, 4);
    Put32(t, length);
    Put32(t, offset);
    return Item(true, t);
  }
  WordStream& Fill3(uint8_t byte, uint32_t count) {
    return Item(true, Le((count << 4) | 15 | (uint32_t{byte} << 16), 3));
  }
  WordStream& Fill7(uint8_t byte, uint32_t count) {
    std::vector<uint8_t> t = Le(15 | (uint32_t{byte} << 16), 3);
    Put32(t, count);
    return Item(true, t);
  }
  // Raw bytes in the payload (a tail's skipped word, damage).
  WordStream& Raw(const std::vector<uint8_t>& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  // Overwrites the control word under construction (its flags then no longer match the items).
  WordStream& SetControlWord(uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes_[wordAt_ + i] = static_cast<uint8_t>(value >> (8 * i));
    return *this;
  }

  std::vector<uint8_t> Payload() const { return bytes_; }

  // A whole method-1 block: flags (coded, long or short header), sizes, this payload.
  std::vector<uint8_t> Block(uint32_t decompressedSize, bool longHeader) const {
    return MakeBlock(true, longHeader, decompressedSize, bytes_);
  }

  static std::vector<uint8_t> MakeBlock(bool coded, bool longHeader, uint32_t decompressedSize,
                                        const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> block{static_cast<uint8_t>((coded ? 1 : 0) | (longHeader ? 2 : 0))};
    const uint32_t total = static_cast<uint32_t>(payload.size()) + (longHeader ? 9 : 3);
    if (longHeader) {
      Put32(block, total);
      Put32(block, decompressedSize);
    } else {
      block.push_back(static_cast<uint8_t>(total));
      block.push_back(static_cast<uint8_t>(decompressedSize));
    }
    block.insert(block.end(), payload.begin(), payload.end());
    return block;
  }

 private:
  static std::vector<uint8_t> Le(uint32_t v, int n) {
    std::vector<uint8_t> out;
    for (int i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
  }
  void NewWord() {
    wordAt_ = bytes_.size();
    Put32(bytes_, 0x80000000u);
    used_ = 0;
  }
  WordStream& Item(bool isMatch, const std::vector<uint8_t>& bytes) {
    if (used_ == 31) NewWord();
    if (isMatch) bytes_[wordAt_ + used_ / 8] |= static_cast<uint8_t>(1u << (used_ % 8));
    ++used_;
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }

  std::vector<uint8_t> bytes_;
  size_t wordAt_ = 0;
  uint32_t used_ = 0;
};

// Byte-token stream, token by token; the writer does not police the grammar (tests need
// ill-formed streams too).
class ByteStream {
 public:
  // 1-31 literals (t = count), or 32-279 (0, count - 32).
  ByteStream& Run(const std::vector<uint8_t>& bytes) {
    const uint32_t n = static_cast<uint32_t>(bytes.size());
    if (n <= 31) {
      bytes_.push_back(static_cast<uint8_t>(n));
    } else {
      bytes_.push_back(0);
      bytes_.push_back(static_cast<uint8_t>(n - 32));
    }
    return Raw(bytes);
  }
  // 0, u with u >= 248: 280 or 256 << (u - 248) literals, stays after-match.
  ByteStream& BigRun(uint8_t u, const std::vector<uint8_t>& bytes) {
    bytes_.push_back(0);
    bytes_.push_back(u);
    return Raw(bytes);
  }
  // After a literal: 3 bytes from distance 1..1024 (t < 32, b), then one literal.
  ByteStream& MatchWithLiteral(uint32_t distance, uint8_t literal) {
    const uint32_t d = distance - 1;
    bytes_.push_back(static_cast<uint8_t>(d & 31));
    bytes_.push_back(static_cast<uint8_t>(d >> 5));
    bytes_.push_back(literal);
    return *this;
  }
  // 3-8 bytes from distance 1..8192.
  ByteStream& ShortMatch(uint32_t distance, uint32_t length) {
    const uint32_t d = distance - 1;
    bytes_.push_back(static_cast<uint8_t>(((length - 1) << 5) | (d & 31)));
    bytes_.push_back(static_cast<uint8_t>(d >> 5));
    return *this;
  }
  // length >= 4 from distance 1..16383, then 0-3 trailing literals.
  ByteStream& LongMatch(uint32_t distance, uint32_t length,
                        const std::vector<uint8_t>& trailing = {}) {
    uint32_t code = length - 3;
    if (code <= 31) {
      bytes_.push_back(static_cast<uint8_t>(32 | code));
    } else {
      bytes_.push_back(32);
      uint32_t rest = code - 31;
      while (rest > 255) {
        bytes_.push_back(0);
        rest -= 255;
      }
      bytes_.push_back(static_cast<uint8_t>(rest));
    }
    bytes_.push_back(static_cast<uint8_t>((distance & 63) | (trailing.size() << 6)));
    bytes_.push_back(static_cast<uint8_t>(distance >> 6));
    return Raw(trailing);
  }
  ByteStream& End() { return Raw({0x21, 0x00, 0x00}); }
  ByteStream& Raw(const std::vector<uint8_t>& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  std::vector<uint8_t> Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace tokens
