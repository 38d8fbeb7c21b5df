// Byte-token streams: every token kind, the format's edge cases, the result codes, and the
// capacity bound on hostile streams (checked with a guard region after the output).
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

using tokens::ByteStream;
using Bytes = std::vector<uint8_t>;

struct Result {
  int32_t code;
  Bytes bytes;  // the produced bytes
};

Result Decode(const Bytes& stream, uint32_t capacity) {
  GuardedOutput out(capacity);
  uint32_t produced = 0xFFFFFFFF;
  const int32_t code = DecompressByteStream(stream.data(), static_cast<uint32_t>(stream.size()),
                                            out.Data(), capacity, &produced);
  EXPECT_EQ(out.FirstChangedGuardByte(), -1) << "wrote past capacity";
  EXPECT_LE(produced, capacity);
  return {code, std::move(out).Take(std::min(produced, capacity))};
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Text(size_t n, uint32_t seed = 2) { return MakeData(DataKind::Text, n, seed); }

// Byte-by-byte model of a match, for expected outputs.
void Repeat(Bytes& out, uint32_t distance, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
}

TEST(ByteStream, EdgeCasesOfTheFormat) {
  const Bytes run512 = Text(512), ab = {'a', 'b'}, abc = {'a', 'b', 'c'};
  Bytes distance1 = abc;
  Repeat(distance1, 1, 10);
  Bytes r1 = Text(40);
  Repeat(r1, 37, 3);
  r1.push_back('!');
  Repeat(r1, 1, 3);
  r1.push_back('?');
  Bytes longRun = Text(20000, 4);
  Bytes extended = Text(279);
  Repeat(extended, 270, 34 + 255 * 2 + 7);
  Bytes trailing = Text(10);
  Repeat(trailing, 3, 5);
  trailing.insert(trailing.end(), abc.begin(), abc.end());
  Repeat(trailing, 13, 8);
  Bytes overlapping = Text(9);
  Repeat(overlapping, 7, 300);  // short period, long enough for the wide path
  Repeat(overlapping, 12, 300);

  struct Case {
    const char* what;
    Bytes stream;
    Bytes expected;
  } const cases[] = {
      {"0x00 0xF9 + 512 literals, then after-match again",
       ByteStream().BigRun(0xF9, run512).Run(ab).End().Bytes(), Concat(run512, ab)},
      {"long match distance 1 length 10", ByteStream().Run(abc).LongMatch(1, 10).End().Bytes(), distance1},
      {"match with one literal after literals",
       ByteStream().Run(Text(40)).MatchWithLiteral(37, '!').MatchWithLiteral(1, '?').End().Bytes(), r1},
      {"280 and 32768-literal runs then a medium run",
       ByteStream()
           .BigRun(0xF8, Bytes(longRun.begin(), longRun.begin() + 280))
           .BigRun(0xFD, Bytes(longRun.begin() + 280, longRun.begin() + 280 + 8192))
           .Run(Bytes(longRun.begin() + 8472, longRun.begin() + 8472 + 279))
           .End()
           .Bytes(),
       Bytes(longRun.begin(), longRun.begin() + 8472 + 279)},
      {"extended length with two zero bytes", ByteStream().Run(Text(279)).LongMatch(270, 34 + 255 * 2 + 7).End().Bytes(), extended},
      {"trailing literals and a short match",
       ByteStream().Run(Text(10)).LongMatch(3, 5, abc).ShortMatch(13, 8).End().Bytes(), trailing},
      {"overlapping copies", ByteStream().Run(Text(9)).LongMatch(7, 300).LongMatch(12, 300).End().Bytes(), overlapping},
      {"end marker alone", ByteStream().End().Bytes(), {}},
  };
  for (const Case& c : cases) {
    const Result r = Decode(c.stream, static_cast<uint32_t>(c.expected.size()));
    EXPECT_EQ(r.code, kDecodeOk) << c.what;
    EXPECT_TRUE(r.bytes == c.expected) << c.what;
  }
}

TEST(ByteStream, ResultCodesAndProducedCounts) {
  const Bytes abc = {'a', 'b', 'c'};
  struct Case {
    const char* what;
    Bytes stream;
    uint32_t capacity;
    int32_t code;
    uint32_t produced;
  } const cases[] = {
      {"no end marker", ByteStream().Run(abc).ShortMatch(3, 3).Bytes(), 100, kEndMarkerMissing, 6},
      {"empty input", {}, 100, kEndMarkerMissing, 0},
      {"run longer than the input", {5, 'a', 'b'}, 100, kInputOverrun, 0},
      {"extended run count missing", {0x00}, 100, kInputOverrun, 0},
      {"match byte missing", ByteStream().Run(abc).Raw({0x40}).Bytes(), 100, kInputOverrun, 3},
      {"match with literal cut", ByteStream().Run(abc).Raw({0x01, 0x00}).Bytes(), 100, kInputOverrun, 3},
      {"zero length bytes run out", ByteStream().Run(abc).Raw({0x20, 0x00, 0x00}).Bytes(), 100, kInputOverrun, 3},
      {"trailing literals missing", ByteStream().Run(abc).Raw({0x21, 0xC3, 0x00, 'x'}).Bytes(), 100, kInputOverrun, 7},
      {"match before the start", ByteStream().Run(abc).ShortMatch(4, 3).End().Bytes(), 100, kLookbehindOverrun, 3},
      {"long match before the start", ByteStream().Run(abc).LongMatch(9, 30).End().Bytes(), 100, kLookbehindOverrun, 3},
      {"end marker before the end", ByteStream().Run(abc).End().Raw({0}).Bytes(), 100, kInputNotConsumed, 3},
      {"run past capacity", ByteStream().Run(abc).End().Bytes(), 2, kOutputOverrun, 0},
      {"match past capacity", ByteStream().Run(abc).LongMatch(1, 100).End().Bytes(), 102, kOutputOverrun, 3},
      {"trailing literal past capacity", ByteStream().Run(abc).LongMatch(1, 4, abc).End().Bytes(), 9, kOutputOverrun, 7},
      {"match with literal past capacity", ByteStream().Run(abc).MatchWithLiteral(3, '!').End().Bytes(), 6, kOutputOverrun, 3},
      {"match with literal fills capacity", ByteStream().Run(abc).MatchWithLiteral(3, '!').End().Bytes(), 7, kDecodeOk, 7},
      {"huge extended length", ByteStream().Run(abc).Raw({0x20}).Raw(Bytes(70000, 0)).Raw({1, 1, 0}).End().Bytes(), 100, kOutputOverrun, 3},
  };
  for (const Case& c : cases) {
    const Result r = Decode(c.stream, c.capacity);
    EXPECT_EQ(r.code, c.code) << c.what;
    EXPECT_EQ(r.bytes.size(), c.produced) << c.what;
  }
}

// Encoded streams into too little room, and random or damaged streams into a tight capacity:
// never a write past it.
TEST(ByteStream, HostileStreamsStayInBounds) {
  auto work = std::make_unique<CompressWorkspace>();
  std::mt19937 rng(3);
  for (DataKind kind : kAllKinds) {
    const Bytes input = MakeData(kind, 65536, 9);
    Bytes stream(ByteTokenBound(65536));
    stream.resize(CompressByteTokens(input.data(), 65536, stream.data(),
                                     static_cast<uint32_t>(stream.size()), work.get()));
    for (uint32_t capacity : {0u, 1u, 15u, 16u, 17u, 1000u, 65535u}) {
      const Result r = Decode(stream, capacity);
      EXPECT_EQ(r.code, kOutputOverrun) << DataKindName(kind) << " capacity " << capacity;
      EXPECT_TRUE(std::equal(r.bytes.begin(), r.bytes.end(), input.begin()));
    }
    for (int i = 0; i < 300; ++i) {
      Bytes damaged = stream;
      for (int k = 0; k < 3; ++k) damaged[rng() % damaged.size()] = static_cast<uint8_t>(rng());
      Decode(damaged, 1 + rng() % 65536);
    }
  }
  for (int i = 0; i < 3000; ++i) {
    Bytes noise(1 + rng() % 200);
    for (auto& b : noise) b = static_cast<uint8_t>(rng() % 4 == 0 ? rng() % 64 : rng());
    Decode(noise, rng() % 300);
  }
}

}  // namespace
