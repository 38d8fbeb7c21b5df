// Ctrl-C, a closed terminal and a plain kill (SIGINT, SIGHUP, SIGTERM) raise a flag for as long
// as a StopSignals lives, so that a long job ends through its own loop: nothing half-written is
// left behind, and what was done so far can still be told.
#pragma once
#include <atomic>
#include <csignal>
#include <iterator>

class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  static const std::atomic<bool>& Raised();

 private:
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction previous_[std::size(kSignals)]{};
};
