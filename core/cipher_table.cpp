// Table-driven AES-CBC: the engine for processors without AES-NI and for the x86 kernel.
#include "cipher_engine.h"
#include "cipher_tables.h"

namespace {

uint32_t LoadBigEndian(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

void StoreBigEndian(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value >> 24);
  p[1] = static_cast<uint8_t>(value >> 16);
  p[2] = static_cast<uint8_t>(value >> 8);
  p[3] = static_cast<uint8_t>(value);
}

uint8_t Byte(uint32_t word, int index) { return static_cast<uint8_t>(word >> (24 - 8 * index)); }

// One block, state as four big-endian columns.
void EncryptBlock(const uint32_t* rk, int rounds, uint32_t s[4]) {
  const auto& t = kCipherTables.Encrypt;
  const uint8_t* sbox = kCipherTables.Sbox;
  uint32_t s0 = s[0] ^ rk[0], s1 = s[1] ^ rk[1], s2 = s[2] ^ rk[2], s3 = s[3] ^ rk[3];
  for (int round = 1; round < rounds; ++round) {
    rk += 4;
    const uint32_t t0 =
        t[0][Byte(s0, 0)] ^ t[1][Byte(s1, 1)] ^ t[2][Byte(s2, 2)] ^ t[3][Byte(s3, 3)] ^ rk[0];
    const uint32_t t1 =
        t[0][Byte(s1, 0)] ^ t[1][Byte(s2, 1)] ^ t[2][Byte(s3, 2)] ^ t[3][Byte(s0, 3)] ^ rk[1];
    const uint32_t t2 =
        t[0][Byte(s2, 0)] ^ t[1][Byte(s3, 1)] ^ t[2][Byte(s0, 2)] ^ t[3][Byte(s1, 3)] ^ rk[2];
    const uint32_t t3 =
        t[0][Byte(s3, 0)] ^ t[1][Byte(s0, 1)] ^ t[2][Byte(s1, 2)] ^ t[3][Byte(s2, 3)] ^ rk[3];
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  rk += 4;
  auto last = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t key) {
    return ((uint32_t{sbox[Byte(a, 0)]} << 24) | (uint32_t{sbox[Byte(b, 1)]} << 16) |
            (uint32_t{sbox[Byte(c, 2)]} << 8) | sbox[Byte(d, 3)]) ^
           key;
  };
  s[0] = last(s0, s1, s2, s3, rk[0]);
  s[1] = last(s1, s2, s3, s0, rk[1]);
  s[2] = last(s2, s3, s0, s1, rk[2]);
  s[3] = last(s3, s0, s1, s2, rk[3]);
}

// The equivalent inverse cipher: the same shape as encryption with the inverse tables and
// the rows shifted the other way.
void DecryptBlock(const uint32_t* rk, int rounds, uint32_t s[4]) {
  const auto& t = kCipherTables.Decrypt;
  const uint8_t* inv = kCipherTables.InvSbox;
  uint32_t s0 = s[0] ^ rk[0], s1 = s[1] ^ rk[1], s2 = s[2] ^ rk[2], s3 = s[3] ^ rk[3];
  for (int round = 1; round < rounds; ++round) {
    rk += 4;
    const uint32_t t0 =
        t[0][Byte(s0, 0)] ^ t[1][Byte(s3, 1)] ^ t[2][Byte(s2, 2)] ^ t[3][Byte(s1, 3)] ^ rk[0];
    const uint32_t t1 =
        t[0][Byte(s1, 0)] ^ t[1][Byte(s0, 1)] ^ t[2][Byte(s3, 2)] ^ t[3][Byte(s2, 3)] ^ rk[1];
    const uint32_t t2 =
        t[0][Byte(s2, 0)] ^ t[1][Byte(s1, 1)] ^ t[2][Byte(s0, 2)] ^ t[3][Byte(s3, 3)] ^ rk[2];
    const uint32_t t3 =
        t[0][Byte(s3, 0)] ^ t[1][Byte(s2, 1)] ^ t[2][Byte(s1, 2)] ^ t[3][Byte(s0, 3)] ^ rk[3];
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  }
  rk += 4;
  auto last = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t key) {
    return ((uint32_t{inv[Byte(a, 0)]} << 24) | (uint32_t{inv[Byte(b, 1)]} << 16) |
            (uint32_t{inv[Byte(c, 2)]} << 8) | inv[Byte(d, 3)]) ^
           key;
  };
  s[0] = last(s0, s3, s2, s1, rk[0]);
  s[1] = last(s1, s0, s3, s2, rk[1]);
  s[2] = last(s2, s1, s0, s3, rk[2]);
  s[3] = last(s3, s2, s1, s0, rk[3]);
}

void LoadState(const uint8_t* block, uint32_t s[4]) {
  for (int i = 0; i < 4; ++i) s[i] = LoadBigEndian(block + 4 * i);
}

void StoreState(uint8_t* block, const uint32_t s[4]) {
  for (int i = 0; i < 4; ++i) StoreBigEndian(block + 4 * i, s[i]);
}

}  // namespace

void EncryptCbcTable(const CipherContext* context, uint8_t* buffer, uint32_t blocks) {
  uint32_t chain[4];
  LoadState(kCipherIv, chain);
  for (uint32_t b = 0; b < blocks; ++b, buffer += 16) {
    uint32_t s[4];
    LoadState(buffer, s);
    for (int i = 0; i < 4; ++i) s[i] ^= chain[i];
    EncryptBlock(context->EncryptRoundKeys, context->Rounds, s);
    StoreState(buffer, s);
    for (int i = 0; i < 4; ++i) chain[i] = s[i];
  }
}

void DecryptCbcTable(const CipherContext* context, uint8_t* buffer, uint32_t blocks) {
  uint32_t chain[4];
  LoadState(kCipherIv, chain);
  for (uint32_t b = 0; b < blocks; ++b, buffer += 16) {
    uint32_t ciphertext[4], s[4];
    LoadState(buffer, ciphertext);
    for (int i = 0; i < 4; ++i) s[i] = ciphertext[i];
    DecryptBlock(context->DecryptRoundKeys, context->Rounds, s);
    for (int i = 0; i < 4; ++i) s[i] ^= chain[i];
    StoreState(buffer, s);
    for (int i = 0; i < 4; ++i) chain[i] = ciphertext[i];
  }
}
