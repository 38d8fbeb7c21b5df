// Both encoders on varied data and sizes: everything they write decodes to the input, within
// the bounds they promise, and compressible data actually shrinks.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "codec.h"
#include "codec_encode.h"
#include "guarded_output.h"
#include "test_data.h"

namespace {

constexpr uint8_t kMethodWordStream = 1;
constexpr uint8_t kMethodByteTokens = 2;

struct Encoded {
  std::vector<uint8_t> bytes;
};

Encoded Encode(uint8_t method, const std::vector<uint8_t>& input) {
  auto work = std::make_unique<CompressWorkspace>();
  const uint32_t n = static_cast<uint32_t>(input.size());
  const uint32_t bound = method == kMethodWordStream ? Method1Bound(n) : ByteTokenBound(n);
  GuardedOutput out(bound);
  const uint32_t size = method == kMethodWordStream
                            ? CompressMethod1(input.data(), n, out.Data(), bound, work.get())
                            : CompressByteTokens(input.data(), n, out.Data(), bound, work.get());
  EXPECT_EQ(out.FirstChangedGuardByte(), -1) << "encoder wrote past capacity";
  return {std::move(out).Take(std::min(size, bound))};
}

void ExpectDecodes(uint8_t method, const std::vector<uint8_t>& encoded,
                   const std::vector<uint8_t>& input) {
  GuardedOutput out(input.size());
  uint32_t capacity = static_cast<uint32_t>(input.size());
  ASSERT_EQ(DecompressBlock(method, encoded.data(), static_cast<uint32_t>(encoded.size()),
                            out.Data(), &capacity),
            kDecodeOk);
  ASSERT_EQ(capacity, input.size());
  EXPECT_TRUE(std::equal(input.begin(), input.end(), out.Bytes.begin()));
  ASSERT_EQ(out.FirstChangedGuardByte(), -1) << "wrote past capacity";
}

class RoundTrip : public ::testing::TestWithParam<DataKind> {};

TEST_P(RoundTrip, BothEncodersAtEverySizeThatMatters) {
  std::vector<uint32_t> sizes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 31, 32, 33, 215, 216, 217,
                                 279, 280, 281, 512, 1000, 4096, 8193, 16384, 16385,
                                 32768, 65535, 65536, 70000};
  for (uint32_t seed = 0; seed < 24; ++seed) sizes.push_back(10 + seed * 2897);
  for (uint32_t size : sizes) {
    const std::vector<uint8_t> input = MakeData(GetParam(), size, size);
    for (uint8_t method : {kMethodWordStream, kMethodByteTokens}) {
      SCOPED_TRACE(testing::Message() << "size " << size << " method " << int{method});
      const Encoded encoded = Encode(method, input);
      ASSERT_FALSE(encoded.bytes.empty());
      ExpectDecodes(method, encoded.bytes, input);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, RoundTrip, ::testing::ValuesIn(kAllKinds),
                         [](const auto& info) { return std::string(DataKindName(info.param)); });

// Every small size: where the last literals fall against control words and the 4-byte end
// reserve, and every literal-run length form.
TEST(RoundTrip, EverySmallSize) {
  for (DataKind kind : kAllKinds) {
    for (uint32_t size = 1; size <= 600; ++size) {
      const std::vector<uint8_t> input = MakeData(kind, size, 77);
      for (uint8_t method : {kMethodWordStream, kMethodByteTokens}) {
        SCOPED_TRACE(testing::Message() << DataKindName(kind) << " size " << size << " method " << int{method});
        ExpectDecodes(method, Encode(method, input).bytes, input);
      }
    }
  }
}

TEST(RoundTrip, CompressibleDataShrinks) {
  for (DataKind kind : {DataKind::Text, DataKind::Zeros, DataKind::Repetitive, DataKind::Binary}) {
    const std::vector<uint8_t> input = MakeData(kind, 65536);
    for (uint8_t method : {kMethodWordStream, kMethodByteTokens}) {
      EXPECT_LT(Encode(method, input).bytes.size(), input.size() * 3 / 4)
          << DataKindName(kind) << " method " << int{method};
    }
  }
  EXPECT_LT(Encode(kMethodWordStream, MakeData(DataKind::Zeros, 65536)).bytes.size(), 32u);
  EXPECT_LT(Encode(kMethodByteTokens, MakeData(DataKind::Zeros, 65536)).bytes.size(), 300u);
}

TEST(RoundTrip, EmptyInput) {
  CompressWorkspace work;
  uint8_t out[16];
  EXPECT_EQ(CompressMethod1(nullptr, 0, out, sizeof(out), &work), 0u) << "never an empty block";
  const uint32_t size = CompressByteTokens(nullptr, 0, out, sizeof(out), &work);
  ASSERT_EQ(size, 3u);
  uint8_t decoded[1];
  uint32_t produced = 99;
  EXPECT_EQ(DecompressByteStream(out, size, decoded, 0, &produced), kDecodeOk);
  EXPECT_EQ(produced, 0u);
}

TEST(RoundTrip, Method1HeaderAndFallback) {
  struct Case {
    DataKind kind;
    uint32_t size;
    uint8_t flags;  // bit 0 coded, bit 1 long header
  } const cases[] = {
      {DataKind::Random, 1, 1},    // a stored block this short would be refused by readers
      {DataKind::Random, 2, 1},   {DataKind::Random, 3, 0},   {DataKind::Random, 4, 0},
      {DataKind::Random, 215, 0}, {DataKind::Random, 216, 2}, {DataKind::Random, 5000, 2},
      {DataKind::Zeros, 215, 1},  {DataKind::Zeros, 216, 3},
  };
  for (const Case& c : cases) {
    const Encoded encoded = Encode(kMethodWordStream, MakeData(c.kind, c.size));
    EXPECT_EQ(encoded.bytes[0], c.flags) << DataKindName(c.kind) << " " << c.size;
  }
}

TEST(RoundTrip, EncodersRefuseTooSmallCapacity) {
  CompressWorkspace work;
  const std::vector<uint8_t> input = MakeData(DataKind::Random, 3000);
  for (uint32_t capacity : {0u, 1u, 8u, 100u, 2999u}) {
    GuardedOutput out(capacity);
    EXPECT_EQ(CompressMethod1(input.data(), 3000, out.Data(), capacity, &work), 0u);
    EXPECT_EQ(CompressByteTokens(input.data(), 3000, out.Data(), capacity, &work), 0u);
    ASSERT_EQ(out.FirstChangedGuardByte(), -1);
  }
}

}  // namespace
