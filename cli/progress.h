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

// The bar ("export [####....]  42%  120.5 MiB of 400.0 MiB, 85.3 MB/s, 0:03 left") is drawn
// only when stderr is a terminal; the summary line ("export: 400.0 MiB in 4.7 s, 89.2 MB/s")
// goes to stderr wherever it leads, so that a copy to stdout stays clean. Quiet shows neither.
class ProgressBar {
 public:
  ProgressBar(std::string label, uint64_t total, bool quiet = false);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  void Update(uint64_t done);
  // Ends the bar's line and prints the summary of done bytes.
  void Finish(uint64_t done);
  // Ends the bar's line, so that what follows starts on a line of its own.
  void Clear();
  double Seconds() const;

 private:
  std::string label_;
  uint64_t total_;
  bool quiet_;
  bool shown_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastDrawn_{};
  int lastPercent_ = -1;
  size_t lastWidth_ = 0;
};
