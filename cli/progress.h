// A progress bar on stderr, drawn only when stderr is a terminal, and the figures that every
// long transfer of the command shows with it and after it.
#pragma once
#include <chrono>
#include <cstdint>
#include <string>

// "120.5 MiB of 400.0 MiB, 85.3 MB/s, 0:03 left" (no "of"-part and no time left when total is
// 0; no rate and no time left before any time has passed).
std::string TransferFigures(uint64_t done, uint64_t total, double seconds);
// "400.0 MiB in 4.7 s, 89.2 MB/s": the summary line once a transfer is over.
std::string TransferSummary(uint64_t bytes, double seconds);

class ProgressBar {
 public:
  ProgressBar(std::string label, uint64_t total);
  ~ProgressBar();
  void Update(uint64_t done);

 private:
  std::string label_;
  uint64_t total_;
  bool shown_;
  int lastPercent_ = -1;
};
