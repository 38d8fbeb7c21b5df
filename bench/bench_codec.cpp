// Block decoding on 64 KiB blocks compressed one by one, each decoder beside its anchor in the
// same run: the byte-token decoder vs liblzo2's lzo1c_decompress on the same streams and vs LZ4
// on the same data; method-1 decoding on the same blocks. The corpus is made at run time from
// /usr/bin + /usr/lib (binaries), /usr/include (text) and zeros. Figures are MB/s of output per
// second of this thread's CPU time (other processes do not skew them); rounds alternate the
// decoders and medians are printed. CODEC_BENCH_MIB sets the corpus size (default 4).
#include <lz4.h>
#include <lzo/lzo1c.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec.h"
#include "codec_encode.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr size_t kBlockSize = 64 * 1024;
constexpr int kRounds = 5;
constexpr double kMinSecondsPerRun = 0.02;

double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Regular files under the folders, in path order, until limit bytes.
Bytes Gather(const std::vector<std::string>& folders, const std::string& suffix, size_t limit) {
  std::vector<fs::path> paths;
  for (const std::string& folder : folders) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (ec) break;
      if (it->is_regular_file(ec) && !it->is_symlink(ec) &&
          (suffix.empty() || it->path().extension() == suffix)) {
        paths.push_back(it->path());
      }
    }
  }
  std::sort(paths.begin(), paths.end());
  Bytes out;
  for (const fs::path& path : paths) {
    if (out.size() >= limit) break;
    std::ifstream file(path, std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    out.insert(out.end(), bytes.begin(), bytes.begin() + std::min(bytes.size(), limit - out.size()));
  }
  out.resize(out.size() / kBlockSize * kBlockSize);
  return out;
}

struct Streams {
  std::vector<Bytes> blocks;
  size_t Total() const {
    size_t n = 0;
    for (const Bytes& b : blocks) n += b.size();
    return n;
  }
};

template <typename Compress>
Streams CompressBlocks(const Bytes& corpus, Compress compress) {
  Streams s;
  for (size_t at = 0; at < corpus.size(); at += kBlockSize) {
    Bytes out(kBlockSize * 2 + 1024);
    out.resize(compress(corpus.data() + at, out.data(), out.size()));
    s.blocks.push_back(std::move(out));
  }
  return s;
}

using Decoder = std::function<size_t(const Bytes& stream, uint8_t* output)>;

// Decodes every block once, checking the output against the corpus.
bool Verify(const Bytes& corpus, const Streams& streams, const Decoder& decode) {
  Bytes output(kBlockSize * 2);
  for (size_t i = 0; i < streams.blocks.size(); ++i) {
    if (decode(streams.blocks[i], output.data()) != kBlockSize ||
        std::memcmp(output.data(), corpus.data() + i * kBlockSize, kBlockSize) != 0) {
      return false;
    }
  }
  return true;
}

struct Row {
  std::string name;
  const Streams* streams;
  Decoder decode;
  int anchor;  // index of the row this one is compared with, -1 for none
  std::vector<double> rates;
};

// One run: decode all blocks as many times as fit kMinSecondsPerRun; returns MB/s.
double Run(const Streams& streams, const Decoder& decode, uint8_t* output) {
  size_t bytes = 0;
  const double start = CpuSeconds();
  double elapsed = 0;
  do {
    for (const Bytes& block : streams.blocks) bytes += decode(block, output);
    elapsed = CpuSeconds() - start;
  } while (elapsed < kMinSecondsPerRun);
  return static_cast<double>(bytes) / elapsed / 1e6;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void BenchCorpus(const char* corpusName, const Bytes& corpus) {
  if (corpus.empty()) {
    std::printf("%-6s (no data found)\n", corpusName);
    return;
  }
  static auto* work = new CompressWorkspace;
  static Bytes lzoWork(LZO1C_MEM_COMPRESS);
  const Streams lzo = CompressBlocks(corpus, [](const uint8_t* in, uint8_t* out, size_t) {
    lzo_uint size = 0;
    lzo1c_1_compress(in, kBlockSize, out, &size, lzoWork.data());
    return static_cast<size_t>(size);
  });
  const Streams ours = CompressBlocks(corpus, [](const uint8_t* in, uint8_t* out, size_t room) {
    return static_cast<size_t>(CompressByteTokens(in, kBlockSize, out, static_cast<uint32_t>(room), work));
  });
  const Streams method1 = CompressBlocks(corpus, [](const uint8_t* in, uint8_t* out, size_t room) {
    return static_cast<size_t>(CompressMethod1(in, kBlockSize, out, static_cast<uint32_t>(room), work));
  });
  const Streams lz4 = CompressBlocks(corpus, [](const uint8_t* in, uint8_t* out, size_t room) {
    return static_cast<size_t>(LZ4_compress_default(reinterpret_cast<const char*>(in),
                                                    reinterpret_cast<char*>(out), kBlockSize,
                                                    static_cast<int>(room)));
  });

  const Decoder byteTokens = [](const Bytes& s, uint8_t* out) -> size_t {
    uint32_t produced = 0;
    DecompressByteStream(s.data(), static_cast<uint32_t>(s.size()), out, 2 * kBlockSize, &produced);
    return produced;
  };
  const Decoder liblzo = [](const Bytes& s, uint8_t* out) -> size_t {
    lzo_uint produced = 2 * kBlockSize;
    lzo1c_decompress(s.data(), s.size(), out, &produced, nullptr);
    return produced;
  };
  const Decoder lz4Safe = [](const Bytes& s, uint8_t* out) -> size_t {
    const int n = LZ4_decompress_safe(reinterpret_cast<const char*>(s.data()),
                                      reinterpret_cast<char*>(out), static_cast<int>(s.size()),
                                      2 * kBlockSize);
    return n < 0 ? 0 : static_cast<size_t>(n);
  };
  const Decoder method1Decode = [](const Bytes& s, uint8_t* out) -> size_t {
    uint32_t capacity = 2 * kBlockSize;
    DecompressBlock(1, s.data(), static_cast<uint32_t>(s.size()), out, &capacity);
    return capacity;
  };
  const Decoder copy = [](const Bytes& s, uint8_t* out) -> size_t {
    std::memcpy(out, s.data(), s.size());
    return s.size();
  };
  Streams stored = CompressBlocks(corpus, [](const uint8_t* in, uint8_t* out, size_t) {
    std::memcpy(out, in, kBlockSize);
    return kBlockSize;
  });

  std::vector<Row> rows = {
      {"lzo1c_decompress <- lzo1c_1", &lzo, liblzo, -1, {}},
      {"byte tokens <- lzo1c_1", &lzo, byteTokens, 0, {}},
      {"LZ4_decompress_safe <- lz4", &lz4, lz4Safe, -1, {}},
      {"byte tokens <- lzo1c_1 (vs LZ4)", &lzo, byteTokens, 2, {}},
      {"byte tokens <- own encoder", &ours, byteTokens, 0, {}},
      {"method 1 <- own encoder", &method1, method1Decode, 0, {}},
      {"memcpy <- stored", &stored, copy, -1, {}},
  };
  for (const Row& row : rows) {
    if (!Verify(corpus, *row.streams, row.decode)) {
      std::printf("%s: %s does not decode to the corpus\n", corpusName, row.name.c_str());
      std::exit(1);
    }
  }
  Bytes output(kBlockSize * 2);
  for (int round = 0; round < kRounds; ++round) {
    for (Row& row : rows) row.rates.push_back(Run(*row.streams, row.decode, output.data()));
  }
  for (const Row& row : rows) {
    const double rate = Median(row.rates);
    const double ratio = static_cast<double>(row.streams->Total()) / static_cast<double>(corpus.size());
    char versus[64] = "";
    if (row.anchor >= 0) {
      std::snprintf(versus, sizeof(versus), "%.2fx %s", rate / Median(rows[row.anchor].rates),
                    row.anchor == 2 ? "LZ4" : "liblzo2");
    }
    std::printf("%-6s %-34s %9.0f MB/s  %-16s size %.3f\n", corpusName, row.name.c_str(), rate,
                versus, ratio);
  }
}

}  // namespace

int main() {
  if (lzo_init() != LZO_E_OK) return 1;
  const char* mibText = std::getenv("CODEC_BENCH_MIB");
  const size_t mib = mibText ? static_cast<size_t>(std::atoi(mibText)) : 4;
  const size_t limit = std::max<size_t>(1, mib) << 20;
  std::printf("64 KiB blocks, %zu MiB per corpus; MB/s of output per CPU-second, median of %d rounds;\n"
              "size = compressed / original\n",
              mib, kRounds);
  const Bytes binaries = [&] {
    Bytes bin = Gather({"/usr/bin"}, "", limit / 2);
    const Bytes lib = Gather({"/usr/lib"}, "", limit - bin.size());
    bin.insert(bin.end(), lib.begin(), lib.end());
    return bin;
  }();
  BenchCorpus("bin", binaries);
  BenchCorpus("text", Gather({"/usr/include"}, ".h", limit));
  BenchCorpus("zero", Bytes(limit, 0));
  return 0;
}
