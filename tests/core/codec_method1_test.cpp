// Method-1 blocks: the header rules, every token kind, the format's edge cases, and payloads
// that break a bound (refused with kMethod1PayloadDamaged, never a write past the output).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "codec.h"
#include "codec_encode.h"
#include "guarded_output.h"
#include "test_data.h"
#include "token_writer.h"

namespace {

using tokens::WordStream;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kMethod1 = 1;

struct Result {
  int32_t code;
  uint32_t size;
  Bytes bytes;  // the first size bytes of the output (all of it when rejected)
};

// Decodes into capacity bytes followed by a guard region that must stay untouched.
Result Decode(const Bytes& block, uint32_t capacity) {
  GuardedOutput out(capacity);
  uint32_t size = capacity;
  const int32_t code =
      DecompressBlock(kMethod1, block.data(), static_cast<uint32_t>(block.size()), out.Data(), &size);
  EXPECT_EQ(out.FirstChangedGuardByte(), -1) << "wrote past capacity";
  return {code, size, std::move(out).Take(code == kMethod1HeaderRejected ? capacity : std::min(size, capacity))};
}

Bytes Text(size_t n) { return MakeData(DataKind::Text, n, 3); }

TEST(Method1, StoredShortHeaderBlock) {
  const Bytes data = Text(20);
  const Result r = Decode(WordStream::MakeBlock(false, false, 20, data), 100);
  EXPECT_EQ(r.code, kDecodeOk);
  EXPECT_EQ(r.size, 20u);
  EXPECT_EQ(r.bytes, data);
}

TEST(Method1, RejectedHeadersWriteNothing) {
  const Bytes data = Text(300);
  struct Case {
    const char* what;
    Bytes block;
    uint32_t capacity;
  } const cases[] = {
      {"size above capacity", WordStream::MakeBlock(false, true, 300, data), 299},
      {"coded size above capacity", WordStream().Literals(Text(10)).Block(10, false), 9},
      {"stored size beyond input", WordStream::MakeBlock(false, false, 21, Text(20)), 100},
      {"shorter than a size field + 5", {0x00, 0x05, 0x02, 'a', 'b'}, 100},
      {"long header cut", {0x03, 9, 0, 0, 0, 1, 0, 0}, 100},
      {"size field all 0xFF", {0x03, 20, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, 0xFFFFFFFFu / 2},
      {"short size byte 0xFF then 0xFF payload", {0x00, 9, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3}, 1000},
      {"empty input", {}, 100},
  };
  for (const Case& c : cases) {
    const Result r = Decode(c.block, c.capacity > 4096 ? 4096 : c.capacity);
    EXPECT_EQ(r.code, kMethod1HeaderRejected) << c.what;
    EXPECT_EQ(r.size, c.capacity > 4096 ? 4096 : c.capacity) << c.what << ": capacity kept";
    EXPECT_EQ(r.bytes, Bytes(r.bytes.size(), GuardedOutput::kUnwritten)) << c.what << ": output untouched";
  }
}

TEST(Method1, CodedSizesOneToFourAreTheBytesAfterTheFirstWord) {
  for (uint32_t n = 1; n <= 4; ++n) {
    const Bytes payload = {9, 9, 9, 9, 'w', 'x', 'y', 'z'};
    const Result r = Decode(WordStream::MakeBlock(true, false, n, payload), 8);
    EXPECT_EQ(r.code, kDecodeOk);
    EXPECT_EQ(r.bytes, Bytes(payload.begin() + 4, payload.begin() + 4 + n));
  }
}

TEST(Method1, AllZeroControlWordIsLiterals) {
  const Bytes data = Text(40);
  WordStream w;
  w.Literals(Bytes(data.begin(), data.begin() + 31)).SetControlWord(0);
  w.Literals(Bytes(data.begin() + 31, data.end()));
  const Result r = Decode(w.Block(40, false), 40);
  EXPECT_EQ(r.code, kDecodeOk);
  EXPECT_EQ(r.bytes, data);
}

// Every token kind between literals; the expected bytes come from a plain byte-by-byte model.
TEST(Method1, EveryTokenKind) {
  const Bytes prefix = MakeData(DataKind::Random, 70000, 11);
  struct Case {
    const char* what;
    void (*token)(WordStream&);
    uint32_t offset;  // 0 marks a fill of 'F'
    uint32_t length;
  } const cases[] = {
      {"1-byte", [](WordStream& w) { w.Match1(63); }, 63, 3},
      {"2-byte length 3", [](WordStream& w) { w.Match2Short(16383); }, 16383, 3},
      {"2-byte", [](WordStream& w) { w.Match2(1023, 18); }, 1023, 18},
      {"3-byte length 34", [](WordStream& w) { w.Match3(65535, 34); }, 65535, 34},
      {"3-byte near", [](WordStream& w) { w.Match3(5, 34); }, 5, 34},
      {"4-byte", [](WordStream& w) { w.Match4(69999, 2050); }, 69999, 2050},
      {"4-byte overlapping", [](WordStream& w) { w.Match4(4, 1001); }, 4, 1001},
      {"12-byte", [](WordStream& w) { w.Match12(70000, 5000); }, 70000, 5000},
      {"fill 1", [](WordStream& w) { w.Fill3('F', 1); }, 0, 1},
      {"fill 6", [](WordStream& w) { w.Fill3('F', 6); }, 0, 6},
      {"fill 4095", [](WordStream& w) { w.Fill3('F', 4095); }, 0, 4095},
      {"7-byte fill 4097", [](WordStream& w) { w.Fill7('F', 4097); }, 0, 4097},
  };
  for (const Case& c : cases) {
    WordStream w;
    w.Literals(prefix);
    c.token(w);
    const Bytes tail = {'t', 'a', 'i', 'l', '!'};
    w.Literals(tail);
    Bytes expected = prefix;
    for (uint32_t i = 0; i < c.length; ++i) {
      expected.push_back(c.offset == 0 ? 'F' : expected[expected.size() - c.offset]);
    }
    expected.insert(expected.end(), tail.begin(), tail.end());
    const uint32_t size = static_cast<uint32_t>(expected.size());
    const Result r = Decode(w.Block(size, true), size);
    EXPECT_EQ(r.code, kDecodeOk) << c.what;
    EXPECT_TRUE(r.bytes == expected) << c.what;
  }
}

// Payloads that break a bound: decoding stops, the block is reported damaged, nothing is
// written past the decompressed size.
TEST(Method1, DamagedPayloadsAreReported) {
  const Bytes text = Text(64);
  const Bytes lit8(text.begin(), text.begin() + 8);
  struct Case {
    const char* what;
    Bytes block;
    uint32_t capacity;
  } const cases[] = {
      {"match before the start", WordStream().Literals(lit8).Match1(9).Literals(lit8).Block(19, false), 19},
      {"match into the last 4 bytes", WordStream().Literals(lit8).Match2(8, 6).Literals(Text(3)).Block(17, false), 17},
      {"fill into the last 4 bytes", WordStream().Literals(lit8).Fill3('x', 6).Literals(Text(3)).Block(17, false), 17},
      // Offsets below 4 copy in whole 4-byte units: only the end reserve keeps the last unit
      // inside the output.
      {"offset-3 match to the end", WordStream().Literals(lit8).Match2(3, 9).Block(17, false), 17},
      {"huge 12-byte length", WordStream().Literals(lit8).Match12(4, 0xFFFFFFF0u).Literals(lit8).Block(40, false), 40},
      {"huge 12-byte offset", WordStream().Literals(lit8).Match12(0xFFFFFFF0u, 5).Literals(lit8).Block(40, false), 40},
      {"huge 7-byte fill", WordStream().Literals(lit8).Fill7('x', 0xFFFFFFFFu).Literals(lit8).Block(40, false), 40},
      {"literals past the payload", WordStream().Literals(lit8).Block(12, false), 12},
      {"size 1-4, payload too short", WordStream::MakeBlock(true, false, 4, {0, 0, 0, 0, 'a'}), 4},
      {"no control word", WordStream::MakeBlock(true, true, 300, {1, 2}), 300},
  };
  for (const Case& c : cases) {
    const Result r = Decode(c.block, c.capacity);
    EXPECT_EQ(r.code, kMethod1PayloadDamaged) << c.what;
  }
}

// Encoded blocks cut short or changed at random, decoded into exactly their size: any result
// but a write past the output; cut blocks are never accepted as whole.
TEST(Method1, HostileBlocksStayInBounds) {
  auto work = std::make_unique<CompressWorkspace>();
  std::mt19937 rng(5);
  for (DataKind kind : kAllKinds) {
    for (uint32_t size : {7u, 215u, 3000u, 65536u}) {
      const Bytes input = MakeData(kind, size, size);
      Bytes block(Method1Bound(size));
      block.resize(CompressMethod1(input.data(), size, block.data(),
                                   static_cast<uint32_t>(block.size()), work.get()));
      if ((block[0] & 1) == 0) continue;  // stored: nothing to damage but the header
      for (size_t cut = 0; cut < block.size(); cut += 1 + cut / 16) {
        EXPECT_NE(Decode(Bytes(block.begin(), block.begin() + cut), size).code, kDecodeOk)
            << DataKindName(kind) << " " << size << " cut " << cut;
      }
      for (int i = 0; i < 200; ++i) {
        Bytes damaged = block;
        const size_t at = 9 + rng() % (damaged.size() - 9);  // keep the header: decode the payload
        damaged[at] = static_cast<uint8_t>(rng());
        Decode(damaged, size);
      }
    }
  }
}

}  // namespace
