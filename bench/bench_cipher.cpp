// AES-CBC decryption of 64 KiB stored blocks (in place, the vector reset for every block, as
// the read path does), each engine beside OpenSSL's EVP on the same buffers in the same run.
// Figures are MB/s (10^6 bytes) per second of this thread's CPU time, so that other processes
// on the machine do not skew them; rounds alternate engine and anchor, medians are printed.
#include <openssl/evp.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "cipher.h"
#include "cipher_engine.h"

namespace {

constexpr size_t kBlockSize = 64 * 1024;
constexpr size_t kBlocksInBuffer = 16;  // 1 MiB: stays in L2, like the driver's block buffer
constexpr int kRounds = 9;

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

const EVP_CIPHER* OpenSslCipher(int keyBits) {
  return keyBits == 128 ? EVP_aes_128_cbc() : keyBits == 192 ? EVP_aes_192_cbc() : EVP_aes_256_cbc();
}

class OpenSslDecryptor {
 public:
  OpenSslDecryptor(const uint8_t* key, int keyBits) : ctx_(EVP_CIPHER_CTX_new()) {
    EVP_DecryptInit_ex(ctx_, OpenSslCipher(keyBits), nullptr, key, kCipherIv);
    EVP_CIPHER_CTX_set_padding(ctx_, 0);
  }
  ~OpenSslDecryptor() { EVP_CIPHER_CTX_free(ctx_); }
  OpenSslDecryptor(const OpenSslDecryptor&) = delete;
  OpenSslDecryptor& operator=(const OpenSslDecryptor&) = delete;

  void Decrypt(uint8_t* block) {
    int written = 0;
    EVP_DecryptInit_ex(ctx_, nullptr, nullptr, nullptr, kCipherIv);
    EVP_DecryptUpdate(ctx_, block, &written, block, static_cast<int>(kBlockSize));
  }

 private:
  EVP_CIPHER_CTX* ctx_;
};

// MB/s of one pass over totalBytes, decrypting block after block of the buffer.
template <typename Decrypt>
double Throughput(std::vector<uint8_t>& buffer, size_t totalBytes, Decrypt decrypt) {
  const size_t blocks = totalBytes / kBlockSize;
  const double start = CpuSeconds();
  for (size_t b = 0; b < blocks; ++b) decrypt(buffer.data() + (b % kBlocksInBuffer) * kBlockSize);
  return static_cast<double>(blocks * kBlockSize) / (CpuSeconds() - start) / 1e6;
}

struct Row {
  double engine, openssl, ratio;
};

Row Measure(CipherEngine engine, int keyBits, size_t bytesPerRound) {
  std::mt19937 random(keyBits);
  std::vector<uint8_t> key(32), buffer(kBlockSize * kBlocksInBuffer);
  for (auto& b : key) b = static_cast<uint8_t>(random());
  for (auto& b : buffer) b = static_cast<uint8_t>(random());

  CipherContext context{};
  SetCipherKey(&context, key.data(), keyBits);
  SelectCipherEngine(engine);
  OpenSslDecryptor openssl(key.data(), keyBits);

  // Benchmark only what decrypts correctly.
  std::vector<uint8_t> ours(buffer.begin(), buffer.begin() + kBlockSize), theirs = ours;
  DecryptCbc(&context, ours.data(), static_cast<int32_t>(kBlockSize));
  openssl.Decrypt(theirs.data());
  if (ours != theirs) {
    std::fprintf(stderr, "bench_cipher: AES-%d decryption differs from OpenSSL\n", keyBits);
    std::exit(1);
  }

  std::vector<double> engineRuns, opensslRuns, ratios;
  for (int round = 0; round < kRounds; ++round) {
    engineRuns.push_back(Throughput(buffer, bytesPerRound, [&](uint8_t* block) {
      DecryptCbc(&context, block, static_cast<int32_t>(kBlockSize));
    }));
    opensslRuns.push_back(
        Throughput(buffer, bytesPerRound, [&](uint8_t* block) { openssl.Decrypt(block); }));
    ratios.push_back(opensslRuns.back() / engineRuns.back());
  }
  return {Median(engineRuns), Median(opensslRuns), Median(ratios)};
}

}  // namespace

int main() {
  const CipherEngine detected = ActiveCipherEngine();
  std::printf("AES-CBC decrypt, 64 KiB blocks in place, vector reset per block; MB/s per CPU-second,\n"
              "median of %d rounds; ratio = engine time / OpenSSL time (1.00 = as fast as OpenSSL)\n\n",
              kRounds);
  std::printf("%-10s %-7s %12s %14s %8s\n", "cipher", "engine", "engine MB/s", "OpenSSL MB/s",
              "ratio");
  for (CipherEngine engine : {CipherEngine::Table, CipherEngine::AesNi}) {
    if (!SelectCipherEngine(engine)) {
      std::printf("(no AES-NI on this processor)\n");
      continue;
    }
    // The table engine runs near 0.1 GB/s, AES-NI near 10 GB/s: rounds of similar duration.
    const size_t bytesPerRound = engine == CipherEngine::Table ? 16 << 20 : 256 << 20;
    for (int keyBits : {128, 192, 256}) {
      const Row row = Measure(engine, keyBits, bytesPerRound);
      std::printf("AES-%-6d %-7s %12.0f %14.0f %8.2f\n", keyBits,
                  engine == CipherEngine::AesNi ? "AES-NI" : "table", row.engine, row.openssl,
                  row.ratio);
    }
  }
  SelectCipherEngine(detected);
  return 0;
}
