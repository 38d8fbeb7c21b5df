// The fixed initialisation vector and the key schedule (FIPS-197 key expansion plus the
// round keys of the equivalent inverse cipher).
#include "cipher.h"
#include "cipher_tables.h"

const uint8_t kCipherIv[16] = {'H', 'a', 'r', 'v', 'e', 's', 't', 'a',
                               'V', 'a', 'u', 'l', 't', 'I', 'V', '1'};

namespace {

uint32_t SubWord(uint32_t word) {
  const uint8_t* sbox = kCipherTables.Sbox;
  return (uint32_t{sbox[word >> 24]} << 24) | (uint32_t{sbox[(word >> 16) & 0xFF]} << 16) |
         (uint32_t{sbox[(word >> 8) & 0xFF]} << 8) | sbox[word & 0xFF];
}

uint32_t RotWord(uint32_t word) { return (word << 8) | (word >> 24); }

// The decryption round tables apply InvSubBytes first; undo it with the forward S-box.
uint32_t InvMixColumn(uint32_t word) {
  const auto& t = kCipherTables.Decrypt;
  const uint8_t* sbox = kCipherTables.Sbox;
  return t[0][sbox[word >> 24]] ^ t[1][sbox[(word >> 16) & 0xFF]] ^
         t[2][sbox[(word >> 8) & 0xFF]] ^ t[3][sbox[word & 0xFF]];
}

void ExpandEncryptKey(CipherContext* context, const uint8_t* key, int keyWords) {
  static constexpr uint8_t kRoundConstants[10] = {0x01, 0x02, 0x04, 0x08, 0x10,
                                                  0x20, 0x40, 0x80, 0x1B, 0x36};
  uint32_t* w = context->EncryptRoundKeys;
  for (int i = 0; i < keyWords; ++i) {
    w[i] = (uint32_t{key[4 * i]} << 24) | (uint32_t{key[4 * i + 1]} << 16) |
           (uint32_t{key[4 * i + 2]} << 8) | key[4 * i + 3];
  }
  const int totalWords = 4 * (context->Rounds + 1);
  for (int i = keyWords; i < totalWords; ++i) {
    uint32_t temp = w[i - 1];
    if (i % keyWords == 0) {
      temp = SubWord(RotWord(temp)) ^ (uint32_t{kRoundConstants[i / keyWords - 1]} << 24);
    } else if (keyWords > 6 && i % keyWords == 4) {
      temp = SubWord(temp);
    }
    w[i] = w[i - keyWords] ^ temp;
  }
}

void DeriveDecryptKey(CipherContext* context) {
  const int rounds = context->Rounds;
  const uint32_t* encrypt = context->EncryptRoundKeys;
  uint32_t* decrypt = context->DecryptRoundKeys;
  for (int round = 0; round <= rounds; ++round) {
    const uint32_t* source = encrypt + 4 * (rounds - round);
    const bool outer = round == 0 || round == rounds;
    for (int column = 0; column < 4; ++column) {
      decrypt[4 * round + column] = outer ? source[column] : InvMixColumn(source[column]);
    }
  }
}

}  // namespace

void SetCipherKey(CipherContext* context, const uint8_t* key, int32_t keyBits) {
  if (keyBits != 128 && keyBits != 192 && keyBits != 256) return;
  const int keyWords = keyBits / 32;
  context->Rounds = keyWords + 6;
  ExpandEncryptKey(context, key, keyWords);
  DeriveDecryptKey(context);
}
