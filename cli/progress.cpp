#include "progress.h"

#include <unistd.h>

#include <cstdio>

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
