// AES-CBC against OpenSSL (EVP, no padding, the same fixed vector) on random keys and lengths.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>
#include <random>
#include <vector>

#include "cipher.h"
#include "engine_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;

const EVP_CIPHER* OpenSslCipher(int keyBits) {
  return keyBits == 128 ? EVP_aes_128_cbc() : keyBits == 192 ? EVP_aes_192_cbc() : EVP_aes_256_cbc();
}

Bytes OpenSslCbc(bool encrypt, const Bytes& key, const Bytes& input) {
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                      EVP_CIPHER_CTX_free);
  EXPECT_EQ(1, EVP_CipherInit_ex(ctx.get(), OpenSslCipher(static_cast<int>(key.size() * 8)),
                                 nullptr, key.data(), kCipherIv, encrypt ? 1 : 0));
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  Bytes output(input.size());
  int written = 0, final = 0;
  EXPECT_EQ(1, EVP_CipherUpdate(ctx.get(), output.data(), &written, input.data(),
                                static_cast<int>(input.size())));
  EXPECT_EQ(1, EVP_CipherFinal_ex(ctx.get(), output.data() + written, &final));
  EXPECT_EQ(input.size(), static_cast<size_t>(written + final));
  return output;
}

class CipherOpenSsl : public PerEngine {};

TEST_P(CipherOpenSsl, MatchesOnRandomKeysAndLengths) {
  std::mt19937 random(20240601);
  auto randomBytes = [&](size_t size) {
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
  };
  for (int trial = 0; trial < 60; ++trial) {
    const int keyBits = 128 + 64 * (trial % 3);
    const Bytes key = randomBytes(keyBits / 8);
    const size_t length = 16 * (1 + random() % (trial < 40 ? 40 : 4096));
    const Bytes plaintext = randomBytes(length);
    CipherContext context{};
    SetCipherKey(&context, key.data(), keyBits);

    Bytes buffer = plaintext;
    EncryptCbc(&context, buffer.data(), static_cast<int32_t>(length));
    const Bytes expected = OpenSslCbc(true, key, plaintext);
    ASSERT_EQ(expected, buffer) << keyBits << " bits, " << length << " bytes";

    const Bytes randomCiphertext = randomBytes(length);
    buffer = randomCiphertext;
    DecryptCbc(&context, buffer.data(), static_cast<int32_t>(length));
    ASSERT_EQ(OpenSslCbc(false, key, randomCiphertext), buffer)
        << keyBits << " bits, " << length << " bytes";
  }
}
INSTANTIATE_PER_ENGINE(CipherOpenSsl);

}  // namespace
