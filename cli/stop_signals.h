// Ctrl-C, a closed terminal and a plain kill (SIGINT, SIGHUP, SIGTERM) as a request to stop
// that a long job checks between two pieces of work: it then cleans up (unmounts, removes
// what is half-written) before it ends with kExitCancelled.
#pragma once
#include <csignal>
#include <iterator>

inline constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// While one exists, the stop signals set the request instead of ending the process.
class StopSignalScope {
 public:
  StopSignalScope();
  ~StopSignalScope();
  StopSignalScope(const StopSignalScope&) = delete;
  StopSignalScope& operator=(const StopSignalScope&) = delete;

 private:
  struct sigaction previous_[std::size(kStopSignals)]{};
};

bool StopRequested();
// The signal that asked, 0 when none has.
int StopSignalReceived();
