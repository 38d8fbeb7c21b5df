// Runs a test once per cipher engine (tables, and AES-NI where the processor has it) through
// the public EncryptCbc/DecryptCbc, restoring the engine chosen for the processor afterwards.
#pragma once
#include <gtest/gtest.h>

#include <ostream>

#include "cipher_engine.h"

// Names the engine in test output and in the test names ctest discovers.
inline void PrintTo(CipherEngine engine, std::ostream* out) {
  *out << (engine == CipherEngine::AesNi ? "AesNi" : "Table");
}

class PerEngine : public testing::TestWithParam<CipherEngine> {
 protected:
  void SetUp() override {
    original_ = ActiveCipherEngine();
    if (!SelectCipherEngine(GetParam())) GTEST_SKIP() << "processor has no AES-NI";
  }
  void TearDown() override { SelectCipherEngine(original_); }

 private:
  CipherEngine original_ = CipherEngine::Table;
};

#define INSTANTIATE_PER_ENGINE(suite)                                                    \
  INSTANTIATE_TEST_SUITE_P(Engines, suite,                                               \
                           testing::Values(CipherEngine::Table, CipherEngine::AesNi), \
                           testing::PrintToStringParamName())
