// Wakes when the kernel's mount table changes: the kernel marks /proc/self/mountinfo with
// POLLPRI on every mount and unmount, so nothing is polled in a loop while nothing happens.
#pragma once

class MountTableWatch {
 public:
  // Throws MountError.
  MountTableWatch();
  ~MountTableWatch();
  MountTableWatch(const MountTableWatch&) = delete;
  MountTableWatch& operator=(const MountTableWatch&) = delete;

  // Until the table changes, timeoutMs passes (-1: no limit) or Stop is called. false once
  // stopped: the caller then ends.
  bool Wait(int timeoutMs);
  // From any thread: every Wait, now and later, returns false.
  void Stop();

 private:
  int table_ = -1;
  int stop_ = -1;  // an eventfd
};
