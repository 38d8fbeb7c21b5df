// The byte-token format against liblzo2's LZO1C as an independent source of streams and as an
// oracle: its compressors' streams decode to the input, our encoder's streams decode with its
// safe decoder, and damaged streams give the same result code and the same produced bytes.
#include <gtest/gtest.h>
#include <lzo/lzo1c.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "codec.h"
#include "codec_encode.h"
#include "guarded_output.h"
#include "test_data.h"

namespace {

enum class Compressor { Lzo1c1, Lzo1c999 };

std::vector<uint8_t> LzoCompress(Compressor compressor, const std::vector<uint8_t>& input) {
  static const bool initialised = lzo_init() == LZO_E_OK;
  EXPECT_TRUE(initialised);
  std::vector<uint8_t> work(LZO1C_999_MEM_COMPRESS > LZO1C_MEM_COMPRESS ? LZO1C_999_MEM_COMPRESS
                                                                       : LZO1C_MEM_COMPRESS);
  std::vector<uint8_t> out(input.size() + input.size() / 16 + 64 + 3);
  lzo_uint size = out.size();
  const int rc = compressor == Compressor::Lzo1c1
                     ? lzo1c_1_compress(input.data(), input.size(), out.data(), &size, work.data())
                     : lzo1c_999_compress(input.data(), input.size(), out.data(), &size, work.data());
  EXPECT_EQ(rc, LZO_E_OK);
  out.resize(size);
  return out;
}

struct Decoded {
  int32_t code;
  std::vector<uint8_t> bytes;
};

Decoded Ours(const std::vector<uint8_t>& stream, uint32_t capacity) {
  GuardedOutput out(capacity);
  uint32_t produced = 0xFFFFFFFF;
  const int32_t code = DecompressByteStream(stream.data(), static_cast<uint32_t>(stream.size()),
                                            out.Data(), capacity, &produced);
  EXPECT_EQ(out.FirstChangedGuardByte(), -1) << "wrote past capacity";
  EXPECT_LE(produced, capacity);
  return {code, std::move(out).Take(std::min(produced, capacity))};
}

Decoded Theirs(const std::vector<uint8_t>& stream, uint32_t capacity) {
  std::vector<uint8_t> out(capacity + 1);
  lzo_uint produced = capacity;
  const int code =
      lzo1c_decompress_safe(stream.data(), stream.size(), out.data(), &produced, nullptr);
  out.resize(produced);
  return {code, out};
}

// Same code and same produced bytes, where liblzo2's code is one the format defines.
void ExpectSameAsOracle(const std::vector<uint8_t>& stream, uint32_t capacity, const char* what) {
  const Decoded theirs = Theirs(stream, capacity);
  const Decoded ours = Ours(stream, capacity);
  switch (theirs.code) {
    case LZO_E_OK:
    case LZO_E_INPUT_OVERRUN:
    case LZO_E_OUTPUT_OVERRUN:
    case LZO_E_LOOKBEHIND_OVERRUN:
    case LZO_E_EOF_NOT_FOUND:
    case LZO_E_INPUT_NOT_CONSUMED:
      break;
    default:
      return;
  }
  ASSERT_EQ(ours.code, theirs.code) << what;
  ASSERT_EQ(ours.bytes.size(), theirs.bytes.size()) << what;
  ASSERT_TRUE(ours.bytes == theirs.bytes) << what;
}

struct Sample {
  DataKind kind;
  uint32_t size;
};

std::vector<Sample> Samples() {
  std::vector<Sample> samples;
  for (DataKind kind : kAllKinds) {
    for (uint32_t size : {1u, 2u, 3u, 5u, 31u, 32u, 279u, 280u, 281u, 513u, 4096u, 16385u, 65536u, 70000u}) {
      samples.push_back({kind, size});
    }
  }
  return samples;
}

TEST(LzoCrossCheck, LiblzoStreamsDecodeToTheInput) {
  for (Compressor compressor : {Compressor::Lzo1c1, Compressor::Lzo1c999}) {
    for (const Sample& s : Samples()) {
      const std::vector<uint8_t> input = MakeData(s.kind, s.size, s.size);
      const std::vector<uint8_t> stream = LzoCompress(compressor, input);
      const Decoded ours = Ours(stream, s.size);
      ASSERT_EQ(ours.code, kDecodeOk) << DataKindName(s.kind) << " " << s.size;
      ASSERT_TRUE(ours.bytes == input) << DataKindName(s.kind) << " " << s.size;
    }
  }
}

TEST(LzoCrossCheck, OurStreamsDecodeWithLiblzo) {
  auto work = std::make_unique<CompressWorkspace>();
  for (const Sample& s : Samples()) {
    const std::vector<uint8_t> input = MakeData(s.kind, s.size, s.size);
    std::vector<uint8_t> stream(ByteTokenBound(s.size));
    stream.resize(CompressByteTokens(input.data(), s.size, stream.data(),
                                     static_cast<uint32_t>(stream.size()), work.get()));
    const Decoded theirs = Theirs(stream, s.size);
    ASSERT_EQ(theirs.code, LZO_E_OK) << DataKindName(s.kind) << " " << s.size;
    ASSERT_TRUE(theirs.bytes == input) << DataKindName(s.kind) << " " << s.size;
  }
}

// Cut at many lengths, one byte appended, random byte changes, and tight capacities.
TEST(LzoCrossCheck, DamagedStreamsMatchTheSafeDecoder) {
  std::mt19937 rng(7);
  for (Compressor compressor : {Compressor::Lzo1c1, Compressor::Lzo1c999}) {
    for (DataKind kind : kAllKinds) {
      for (uint32_t size : {40u, 700u, 5000u}) {
        const std::vector<uint8_t> input = MakeData(kind, size, size + 1);
        const std::vector<uint8_t> stream = LzoCompress(compressor, input);
        const uint32_t capacity = size * 2;
        for (size_t cut = 0; cut < stream.size(); cut += 1 + cut / 64) {
          ExpectSameAsOracle({stream.begin(), stream.begin() + cut}, capacity, "cut");
        }
        std::vector<uint8_t> longer = stream;
        longer.push_back(0x11);
        ExpectSameAsOracle(longer, capacity, "appended");
        for (int i = 0; i < 300; ++i) {
          std::vector<uint8_t> damaged = stream;
          damaged[rng() % damaged.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
          if (i % 3 == 0) damaged[rng() % damaged.size()] = static_cast<uint8_t>(rng());
          ExpectSameAsOracle(damaged, capacity, "changed");
          ExpectSameAsOracle(damaged, size, "changed, exact capacity");
        }
        for (uint32_t tight : {0u, 1u, size / 3, size - 1}) {
          ExpectSameAsOracle(stream, tight, "tight capacity");
        }
      }
    }
  }
}

}  // namespace
