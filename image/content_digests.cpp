#include "content_digests.h"

#include <algorithm>

namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

}  // namespace

ContentDigests::ContentDigests(DigestRequest request) {
  if (request.Md5) md5_.emplace(DigestAlgorithm::Md5);
  if (request.Sha256) sha256_.emplace(DigestAlgorithm::Sha256);
}

void ContentDigests::Add(const void* data, size_t length) {
  if (md5_) md5_->Add(data, length);
  if (sha256_) sha256_->Add(data, length);
}

void ContentDigests::AddZeros(uint64_t length) {
  if (!md5_ && !sha256_) return;
  static const std::vector<uint8_t> zeros(1u << 16);
  while (length > 0) {
    const size_t piece = size_t(std::min<uint64_t>(length, zeros.size()));
    Add(zeros.data(), piece);
    length -= piece;
  }
}

std::vector<NamedDigest> ContentDigests::Finish() {
  std::vector<NamedDigest> digests;
  if (md5_) digests.push_back({"md5", Hex(md5_->Finish())});
  if (sha256_) digests.push_back({"sha256", Hex(sha256_->Finish())});
  return digests;
}
