// AES-CBC with the AES-NI instructions. Only these functions are compiled for AES and SSE4.1
// (target attributes), so the rest of the core runs on any x86 processor; the dispatcher calls
// them only after CPUID has reported AES-NI.
#include "cipher_engine.h"

#if HARVESTA_CIPHER_AESNI

#include <cpuid.h>
#include <smmintrin.h>
#include <wmmintrin.h>

#define AESNI_TARGET __attribute__((target("aes,sse4.1")))

namespace {

constexpr int kMaxRounds = 14;

// The context's round keys are big-endian words; the instructions take the block's byte order.
AESNI_TARGET void LoadRoundKeys(const uint32_t* words, int rounds, __m128i* keys) {
  const __m128i swapWords = _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
  for (int round = 0; round <= rounds; ++round) {
    const __m128i key = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + 4 * round));
    keys[round] = _mm_shuffle_epi8(key, swapWords);
  }
}

AESNI_TARGET __m128i LoadBlock(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

AESNI_TARGET void StoreBlock(uint8_t* p, __m128i value) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), value);
}

template <int Rounds>
AESNI_TARGET void EncryptCbcRounds(const __m128i* keys, uint8_t* buffer, uint32_t blocks) {
  __m128i chain = LoadBlock(kCipherIv);
  for (uint32_t b = 0; b < blocks; ++b, buffer += 16) {
    __m128i s = _mm_xor_si128(_mm_xor_si128(LoadBlock(buffer), chain), keys[0]);
#pragma GCC unroll 14
    for (int round = 1; round < Rounds; ++round) s = _mm_aesenc_si128(s, keys[round]);
    chain = _mm_aesenclast_si128(s, keys[Rounds]);
    StoreBlock(buffer, chain);
  }
}

// CBC decryption has no chain between the block ciphers, so kLanes blocks go through the
// rounds together and the AESDEC latency is hidden. The final round key is folded with the
// previous ciphertext, which gives the plaintext straight from AESDECLAST. The loops must be
// unrolled (-O2 leaves them rolled, the lanes then live in memory and it runs 3x slower).
template <int Rounds>
AESNI_TARGET void DecryptCbcRounds(const __m128i* keys, uint8_t* buffer, uint32_t blocks) {
  constexpr uint32_t kLanes = 8;
  __m128i chain = LoadBlock(kCipherIv);
  uint32_t b = 0;
  for (; b + kLanes <= blocks; b += kLanes, buffer += 16 * kLanes) {
    __m128i ciphertext[kLanes], s[kLanes];
#pragma GCC unroll 8
    for (uint32_t i = 0; i < kLanes; ++i) {
      ciphertext[i] = LoadBlock(buffer + 16 * i);
      s[i] = _mm_xor_si128(ciphertext[i], keys[0]);
    }
#pragma GCC unroll 14
    for (int round = 1; round < Rounds; ++round) {
#pragma GCC unroll 8
      for (uint32_t i = 0; i < kLanes; ++i) s[i] = _mm_aesdec_si128(s[i], keys[round]);
    }
    s[0] = _mm_aesdeclast_si128(s[0], _mm_xor_si128(keys[Rounds], chain));
#pragma GCC unroll 8
    for (uint32_t i = 1; i < kLanes; ++i) {
      s[i] = _mm_aesdeclast_si128(s[i], _mm_xor_si128(keys[Rounds], ciphertext[i - 1]));
    }
#pragma GCC unroll 8
    for (uint32_t i = 0; i < kLanes; ++i) StoreBlock(buffer + 16 * i, s[i]);
    chain = ciphertext[kLanes - 1];
  }
  for (; b < blocks; ++b, buffer += 16) {
    const __m128i ciphertext = LoadBlock(buffer);
    __m128i s = _mm_xor_si128(ciphertext, keys[0]);
#pragma GCC unroll 14
    for (int round = 1; round < Rounds; ++round) s = _mm_aesdec_si128(s, keys[round]);
    StoreBlock(buffer, _mm_aesdeclast_si128(s, _mm_xor_si128(keys[Rounds], chain)));
    chain = ciphertext;
  }
}

}  // namespace

bool CpuHasAesNi() {
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (ecx & bit_AES) != 0 && (ecx & bit_SSE4_1) != 0;
}

AESNI_TARGET void EncryptCbcAesNi(const CipherContext* context, uint8_t* buffer, uint32_t blocks) {
  __m128i keys[kMaxRounds + 1];
  LoadRoundKeys(context->EncryptRoundKeys, context->Rounds, keys);
  switch (context->Rounds) {
    case 10: return EncryptCbcRounds<10>(keys, buffer, blocks);
    case 12: return EncryptCbcRounds<12>(keys, buffer, blocks);
    case 14: return EncryptCbcRounds<14>(keys, buffer, blocks);
  }
}

AESNI_TARGET void DecryptCbcAesNi(const CipherContext* context, uint8_t* buffer, uint32_t blocks) {
  __m128i keys[kMaxRounds + 1];
  LoadRoundKeys(context->DecryptRoundKeys, context->Rounds, keys);
  switch (context->Rounds) {
    case 10: return DecryptCbcRounds<10>(keys, buffer, blocks);
    case 12: return DecryptCbcRounds<12>(keys, buffer, blocks);
    case 14: return DecryptCbcRounds<14>(keys, buffer, blocks);
  }
}

#endif
