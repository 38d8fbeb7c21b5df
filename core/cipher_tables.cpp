#include "cipher_tables.h"

namespace {

// Multiplication modulo the AES polynomial x^8 + x^4 + x^3 + x + 1 (0x11B).
constexpr uint8_t GfMultiply(uint8_t a, uint8_t b) {
  uint8_t product = 0;
  while (b != 0) {
    if (b & 1) product ^= a;
    a = static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0));
    b >>= 1;
  }
  return product;
}

// a^254 is the multiplicative inverse of a (and 0 for 0).
constexpr uint8_t GfInverse(uint8_t a) {
  uint8_t result = 1;
  for (int i = 0; i < 254; ++i) result = GfMultiply(result, a);
  return a == 0 ? 0 : result;
}

constexpr uint8_t RotateLeft8(uint8_t value, int bits) {
  return static_cast<uint8_t>((value << bits) | (value >> (8 - bits)));
}

constexpr uint32_t RotateRight32(uint32_t value, int bits) {
  return bits == 0 ? value : (value >> bits) | (value << (32 - bits));
}

constexpr uint32_t Column(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return (uint32_t{b0} << 24) | (uint32_t{b1} << 16) | (uint32_t{b2} << 8) | b3;
}

constexpr CipherTables BuildCipherTables() {
  CipherTables tables{};
  for (int x = 0; x < 256; ++x) {
    const uint8_t inverse = GfInverse(static_cast<uint8_t>(x));
    // The FIPS-197 affine transform.
    const uint8_t s = inverse ^ RotateLeft8(inverse, 1) ^ RotateLeft8(inverse, 2) ^
                      RotateLeft8(inverse, 3) ^ RotateLeft8(inverse, 4) ^ 0x63;
    tables.Sbox[x] = s;
    tables.InvSbox[s] = static_cast<uint8_t>(x);
  }
  for (int x = 0; x < 256; ++x) {
    const uint8_t s = tables.Sbox[x];
    const uint8_t i = tables.InvSbox[x];
    const uint32_t encrypt = Column(GfMultiply(s, 2), s, s, GfMultiply(s, 3));
    const uint32_t decrypt =
        Column(GfMultiply(i, 14), GfMultiply(i, 9), GfMultiply(i, 13), GfMultiply(i, 11));
    for (int t = 0; t < 4; ++t) {
      tables.Encrypt[t][x] = RotateRight32(encrypt, 8 * t);
      tables.Decrypt[t][x] = RotateRight32(decrypt, 8 * t);
    }
  }
  return tables;
}

}  // namespace

constexpr CipherTables kCipherTables = BuildCipherTables();
