// AES (FIPS-197) in CBC mode with a fixed initialisation vector: every stored block is a CBC
// message of its own. Table-driven code everywhere; AES-NI where the processor has it
// (chosen at run time), with identical results.
#pragma once
#include <stdint.h>

// The 16 ASCII bytes "HarvestaVaultIV1", shared by the image writer and every reader.
extern const uint8_t kCipherIv[16];

struct CipherContext {
  uint32_t EncryptRoundKeys[64];
  uint32_t DecryptRoundKeys[64];  // equivalent inverse cipher
  int32_t Rounds;                 // 10, 12 or 14; 0 before a key is set
};

// keyBits 128, 192 or 256; any other value leaves the context untouched.
void SetCipherKey(CipherContext* context, const uint8_t* key, int32_t keyBits);

// In place over length bytes rounded up to whole 16-byte blocks (the buffer must hold them);
// nothing happens when length is 0 or negative.
void EncryptCbc(const CipherContext* context, uint8_t* buffer, int32_t length);
void DecryptCbc(const CipherContext* context, uint8_t* buffer, int32_t length);
