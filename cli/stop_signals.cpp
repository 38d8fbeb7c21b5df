#include "stop_signals.h"

#include <atomic>

namespace {
std::atomic<int> received{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");
}  // namespace

StopSignalScope::StopSignalScope() {
  struct sigaction action{};
  action.sa_handler = [](int signal) { received = signal; };
  sigemptyset(&action.sa_mask);
  // Without SA_RESTART a wait in progress (waitpid, a read from the terminal) returns at once.
  for (size_t i = 0; i < std::size(kStopSignals); ++i)
    sigaction(kStopSignals[i], &action, &previous_[i]);
}

StopSignalScope::~StopSignalScope() {
  for (size_t i = 0; i < std::size(kStopSignals); ++i)
    sigaction(kStopSignals[i], &previous_[i], nullptr);
}

bool StopRequested() { return received != 0; }
int StopSignalReceived() { return received; }
