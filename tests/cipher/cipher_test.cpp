#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "cipher.h"
#include "engine_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const char* hex) {
  Bytes bytes;
  for (; hex[0] && hex[1]; hex += 2) bytes.push_back(std::stoi(std::string(hex, 2), nullptr, 16));
  return bytes;
}

Bytes RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

CipherContext KeyedContext(const Bytes& key) {
  CipherContext context{};
  SetCipherKey(&context, key.data(), static_cast<int32_t>(key.size() * 8));
  return context;
}

TEST(CipherIv, IsHarvestaVaultIV1) { EXPECT_EQ(0, std::memcmp(kCipherIv, "HarvestaVaultIV1", 16)); }

TEST(SetCipherKey, UnsupportedSizeLeavesContextUntouched) {
  const Bytes key = RandomBytes(32, 1);
  for (int32_t bits : {0, 64, 127, 129, 160, 255, 512, -128}) {
    CipherContext context;
    std::memset(&context, 0xA5, sizeof context);
    CipherContext before = context;
    SetCipherKey(&context, key.data(), bits);
    EXPECT_EQ(0, std::memcmp(&before, &context, sizeof context)) << bits;
  }
}

TEST(SetCipherKey, RoundsFollowKeySize) {
  const Bytes key = RandomBytes(32, 2);
  for (auto [bits, rounds] : {std::pair{128, 10}, {192, 12}, {256, 14}}) {
    CipherContext context{};
    SetCipherKey(&context, key.data(), bits);
    EXPECT_EQ(rounds, context.Rounds);
  }
}

class CipherVectors : public PerEngine {};

// FIPS-197 appendix C: one block through the cipher. A one-block CBC message whose plaintext
// was XORed with the initialisation vector is exactly one ECB step.
TEST_P(CipherVectors, Fips197AppendixC) {
  struct Vector {
    const char* key;
    const char* ciphertext;
  };
  const Vector vectors[] = {
      {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "8ea2b7ca516745bfeafc49904b496089"},
  };
  const Bytes plaintext = FromHex("00112233445566778899aabbccddeeff");
  for (const Vector& v : vectors) {
    const CipherContext context = KeyedContext(FromHex(v.key));
    Bytes block = plaintext;
    for (int i = 0; i < 16; ++i) block[i] ^= kCipherIv[i];
    EncryptCbc(&context, block.data(), 16);
    EXPECT_EQ(FromHex(v.ciphertext), block) << v.key;

    DecryptCbc(&context, block.data(), 16);
    for (int i = 0; i < 16; ++i) block[i] ^= kCipherIv[i];
    EXPECT_EQ(plaintext, block) << v.key;
  }
}
INSTANTIATE_PER_ENGINE(CipherVectors);

class CipherCbc : public PerEngine {};

TEST_P(CipherCbc, RoundTripRestoresPlaintext) {
  for (int32_t keyBits : {128, 192, 256}) {
    const CipherContext context = KeyedContext(RandomBytes(keyBits / 8, keyBits));
    for (int32_t length : {16, 32, 48, 112, 128, 144, 4096, 65536}) {
      const Bytes plaintext = RandomBytes(length, length);
      Bytes buffer = plaintext;
      EncryptCbc(&context, buffer.data(), length);
      EXPECT_NE(plaintext, buffer);
      DecryptCbc(&context, buffer.data(), length);
      EXPECT_EQ(plaintext, buffer) << keyBits << " bits, " << length << " bytes";
    }
  }
}

TEST_P(CipherCbc, PartialBlockIsProcessedAsWholeBlock) {
  const CipherContext context = KeyedContext(RandomBytes(16, 3));
  const Bytes data = RandomBytes(48, 4);
  for (auto [length, touched] : {std::pair{20, 32}, {1, 16}, {17, 32}, {33, 48}}) {
    Bytes partial = data, whole = data;
    DecryptCbc(&context, partial.data(), length);
    DecryptCbc(&context, whole.data(), touched);
    EXPECT_EQ(whole, partial) << length;
    EXPECT_TRUE(std::equal(data.begin() + touched, data.end(), partial.begin() + touched));
  }
}

TEST_P(CipherCbc, EmptyOrNegativeLengthOrMissingKeyDoesNothing) {
  const CipherContext keyed = KeyedContext(RandomBytes(32, 5));
  const CipherContext unkeyed{};
  const Bytes data = RandomBytes(64, 6);
  const struct {
    const CipherContext* context;
    int32_t length;
  } cases[] = {{&keyed, 0}, {&keyed, -1}, {&keyed, -16}, {&keyed, INT32_MIN}, {&unkeyed, 64}};
  for (const auto& c : cases) {
    Bytes buffer = data;
    EncryptCbc(c.context, buffer.data(), c.length);
    DecryptCbc(c.context, buffer.data(), c.length);
    EXPECT_EQ(data, buffer) << c.length;
  }
}

// Every call restarts from the fixed vector, so equal stored blocks encrypt equally, while
// equal blocks inside one call differ through the chaining.
TEST_P(CipherCbc, EveryCallRestartsFromTheFixedVector) {
  const CipherContext context = KeyedContext(RandomBytes(24, 7));
  const Bytes plaintext = RandomBytes(64, 8);
  Bytes first = plaintext, second = plaintext;
  EncryptCbc(&context, first.data(), 64);
  EncryptCbc(&context, second.data(), 64);
  EXPECT_EQ(first, second);

  Bytes repeated(32);
  std::copy_n(plaintext.begin(), 16, repeated.begin());
  std::copy_n(plaintext.begin(), 16, repeated.begin() + 16);
  EncryptCbc(&context, repeated.data(), 32);
  EXPECT_TRUE(std::equal(first.begin(), first.begin() + 16, repeated.begin()));
  EXPECT_FALSE(std::equal(repeated.begin(), repeated.begin() + 16, repeated.begin() + 16));
}
INSTANTIATE_PER_ENGINE(CipherCbc);

// Lengths around the AES-NI decryptor's groups of eight blocks and its tail.
TEST(CipherEngines, TableAndAesNiAgree) {
  const CipherEngine original = ActiveCipherEngine();
  if (!SelectCipherEngine(CipherEngine::AesNi)) GTEST_SKIP() << "processor has no AES-NI";
  for (int32_t keyBits : {128, 192, 256}) {
    const CipherContext context = KeyedContext(RandomBytes(keyBits / 8, keyBits + 1));
    for (int32_t length = 16; length <= 16 * 26; length += 16) {
      const Bytes data = RandomBytes(length, length + keyBits);
      Bytes results[2][2];  // [engine][encrypt, decrypt]
      for (CipherEngine engine : {CipherEngine::Table, CipherEngine::AesNi}) {
        SelectCipherEngine(engine);
        Bytes& encrypted = results[static_cast<int>(engine)][0] = data;
        Bytes& decrypted = results[static_cast<int>(engine)][1] = data;
        EncryptCbc(&context, encrypted.data(), length);
        DecryptCbc(&context, decrypted.data(), length);
      }
      EXPECT_EQ(results[0][0], results[1][0]) << keyBits << " bits, " << length << " bytes";
      EXPECT_EQ(results[0][1], results[1][1]) << keyBits << " bits, " << length << " bytes";
    }
  }
  SelectCipherEngine(original);
}

}  // namespace
