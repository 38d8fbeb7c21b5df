#include "stop_signals.h"

namespace {
std::atomic<bool> raised{false};
}  // namespace

StopSignals::StopSignals() {
  struct sigaction action{};
  action.sa_handler = [](int) { raised = true; };
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &previous_[i]);
}

StopSignals::~StopSignals() {
  for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &previous_[i], nullptr);
}

const std::atomic<bool>& StopSignals::Raised() { return raised; }
