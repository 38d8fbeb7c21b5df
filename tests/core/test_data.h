// Inputs for codec tests, generated at run time: each kind stresses a different path.
#pragma once
#include <stdint.h>

#include <random>
#include <string>
#include <vector>

enum class DataKind { Random, Text, Zeros, Repetitive, Binary };

inline const char* DataKindName(DataKind kind) {
  switch (kind) {
    case DataKind::Random: return "random";
    case DataKind::Text: return "text";
    case DataKind::Zeros: return "zeros";
    case DataKind::Repetitive: return "repetitive";
    case DataKind::Binary: return "binary";
  }
  return "?";
}

inline std::vector<uint8_t> MakeData(DataKind kind, size_t size, uint32_t seed = 1) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  out.reserve(size + 64);
  static const char* const kWords[] = {"int ", "return ", "struct ", "const ", "uint32_t ",
                                       "void ", "(", ");\n", "{\n", "}\n", "#include <", ">\n",
                                       "static ", "  ", "if (", "else ", "size", "buffer"};
  while (out.size() < size) {
    switch (kind) {
      case DataKind::Random:
        out.push_back(static_cast<uint8_t>(rng()));
        break;
      case DataKind::Text: {
        const std::string w = kWords[rng() % (sizeof(kWords) / sizeof(kWords[0]))];
        out.insert(out.end(), w.begin(), w.end());
        break;
      }
      case DataKind::Zeros:
        out.push_back(0);
        break;
      case DataKind::Repetitive: {
        // runs of one byte and short periods (2..7), as in tables and padding
        const uint32_t period = 1 + rng() % 7, length = 3 + rng() % 300;
        uint8_t pattern[8];
        for (auto& b : pattern) b = static_cast<uint8_t>(rng() % 4);
        for (uint32_t i = 0; i < length; ++i) out.push_back(pattern[i % period]);
        break;
      }
      case DataKind::Binary: {
        // instruction-like records: opcodes from a small set, small immediates, some
        // near-copies of earlier records and zero padding
        const uint32_t choice = rng() % 10;
        if (choice < 6) {
          static const uint8_t kOps[] = {0x48, 0x89, 0x8b, 0xe8, 0x0f, 0x85, 0xc3, 0x41};
          out.push_back(kOps[rng() % 8]);
          out.push_back(kOps[rng() % 8]);
          uint32_t imm = rng() % 512;
          for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(imm >> (8 * i)));
        } else if (choice < 9 && out.size() > 64) {
          const size_t from = out.size() - 1 - rng() % (out.size() < 20000 ? out.size() - 1 : 20000);
          const size_t n = 4 + rng() % 40;
          for (size_t i = 0; i < n; ++i) out.push_back(out[from + i]);
        } else {
          out.insert(out.end(), 1 + rng() % 24, 0);
        }
        break;
      }
    }
  }
  out.resize(size);
  return out;
}

inline const DataKind kAllKinds[] = {DataKind::Random, DataKind::Text, DataKind::Zeros,
                                     DataKind::Repetitive, DataKind::Binary};
