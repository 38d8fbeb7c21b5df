#include "progress.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

#include <fmt/format.h>

namespace {

std::string Mebibytes(uint64_t bytes) { return fmt::format("{:.1f} MiB", double(bytes) / (1 << 20)); }

// Decimal megabytes a second, as dd and the ewf tools give them.
std::string Rate(uint64_t bytes, double seconds) {
  return fmt::format("{:.1f} MB/s", double(bytes) / 1e6 / seconds);
}

std::string Duration(double seconds) {
  const auto whole = static_cast<uint64_t>(std::llround(seconds));
  if (whole >= 3600) return fmt::format("{}:{:02}:{:02}", whole / 3600, whole / 60 % 60, whole % 60);
  return fmt::format("{}:{:02}", whole / 60, whole % 60);
}

}  // namespace

std::string TransferFigures(uint64_t done, uint64_t total, double seconds) {
  std::string text = Mebibytes(done);
  if (total) text += " of " + Mebibytes(total);
  if (seconds <= 0) return text;
  text += ", " + Rate(done, seconds);
  if (total && done && done <= total)
    text += ", " + Duration(seconds * double(total - done) / double(done)) + " left";
  return text;
}

std::string TransferSummary(uint64_t bytes, double seconds) {
  if (seconds <= 0) return Mebibytes(bytes);
  return fmt::format("{} in {:.1f} s, {}", Mebibytes(bytes), seconds, Rate(bytes, seconds));
}

ProgressBar::ProgressBar(std::string label, uint64_t total)
    : label_(std::move(label)), total_(total), shown_(isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() {
  if (shown_ && lastPercent_ >= 0) std::fprintf(stderr, "\n");
}

void ProgressBar::Update(uint64_t done) {
  if (!shown_) return;
  int percent = total_ ? int(done * 100 / total_) : 100;
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  constexpr int kWidth = 40;
  std::string bar(size_t(percent * kWidth / 100), '#');
  bar.resize(kWidth, '.');
  std::fprintf(stderr, "\r%s [%s] %3d%%", label_.c_str(), bar.c_str(), percent);
  std::fflush(stderr);
}
