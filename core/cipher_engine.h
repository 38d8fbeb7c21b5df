// Internal to the cipher: the engines behind EncryptCbc/DecryptCbc. Each takes a context
// with a valid key and a whole number of 16-byte blocks; the public functions check both.
#pragma once
#include <stdint.h>

#include "cipher.h"

// AES-NI is compiled everywhere except the x86 kernel, where using XMM registers would
// need the floating-point state saved around every call.
#if (defined(__x86_64__) || defined(__i386__)) && !(defined(HARVESTA_KERNEL) && defined(__i386__))
#define HARVESTA_CIPHER_AESNI 1
#else
#define HARVESTA_CIPHER_AESNI 0
#endif

enum class CipherEngine : uint8_t { Table, AesNi };

void EncryptCbcTable(const CipherContext* context, uint8_t* buffer, uint32_t blocks);
void DecryptCbcTable(const CipherContext* context, uint8_t* buffer, uint32_t blocks);

#if HARVESTA_CIPHER_AESNI
bool CpuHasAesNi();
void EncryptCbcAesNi(const CipherContext* context, uint8_t* buffer, uint32_t blocks);
void DecryptCbcAesNi(const CipherContext* context, uint8_t* buffer, uint32_t blocks);
#endif

// The engine in use: AES-NI when the processor has it, else the tables. Tests and benchmarks
// pin one; returns false (and changes nothing) when the processor lacks it.
CipherEngine ActiveCipherEngine();
bool SelectCipherEngine(CipherEngine engine);
