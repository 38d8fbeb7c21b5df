// EncryptCbc and DecryptCbc: length checks, then the engine chosen for this processor.
#include "cipher_engine.h"

namespace {

// 0 until the first call looks at CPUID; then 1 + the engine. Every thread that races on the
// first call stores the same value, so relaxed atomics are enough.
uint8_t g_engine = 0;

CipherEngine DetectEngine() {
#if HARVESTA_CIPHER_AESNI
  if (CpuHasAesNi()) return CipherEngine::AesNi;
#endif
  return CipherEngine::Table;
}

// A context without a valid key (zeroed, or never given a supported key size) would
// run the rounds off the end of the round keys; such a call leaves the buffer as it is.
bool HasKey(const CipherContext* context) {
  return context->Rounds == 10 || context->Rounds == 12 || context->Rounds == 14;
}

uint32_t BlockCount(int32_t length) { return static_cast<uint32_t>(length - 1) / 16 + 1; }

}  // namespace

CipherEngine ActiveCipherEngine() {
  uint8_t engine = __atomic_load_n(&g_engine, __ATOMIC_RELAXED);
  if (engine == 0) {
    engine = static_cast<uint8_t>(1 + static_cast<uint8_t>(DetectEngine()));
    __atomic_store_n(&g_engine, engine, __ATOMIC_RELAXED);
  }
  return static_cast<CipherEngine>(engine - 1);
}

bool SelectCipherEngine(CipherEngine engine) {
  if (engine == CipherEngine::AesNi && DetectEngine() != CipherEngine::AesNi) return false;
  __atomic_store_n(&g_engine, static_cast<uint8_t>(1 + static_cast<uint8_t>(engine)),
                   __ATOMIC_RELAXED);
  return true;
}

void EncryptCbc(const CipherContext* context, uint8_t* buffer, int32_t length) {
  if (length <= 0 || !HasKey(context)) return;
#if HARVESTA_CIPHER_AESNI
  if (ActiveCipherEngine() == CipherEngine::AesNi) {
    return EncryptCbcAesNi(context, buffer, BlockCount(length));
  }
#endif
  EncryptCbcTable(context, buffer, BlockCount(length));
}

void DecryptCbc(const CipherContext* context, uint8_t* buffer, int32_t length) {
  if (length <= 0 || !HasKey(context)) return;
#if HARVESTA_CIPHER_AESNI
  if (ActiveCipherEngine() == CipherEngine::AesNi) {
    return DecryptCbcAesNi(context, buffer, BlockCount(length));
  }
#endif
  DecryptCbcTable(context, buffer, BlockCount(length));
}
