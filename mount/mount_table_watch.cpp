#include "mount_table_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "mount_error.h"

MountTableWatch::MountTableWatch() {
  table_ = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  stop_ = eventfd(0, EFD_CLOEXEC);
  if (table_ < 0 || stop_ < 0) {
    if (table_ >= 0) close(table_);
    if (stop_ >= 0) close(stop_);
    throw MountError("cannot watch the mount table");
  }
}

MountTableWatch::~MountTableWatch() {
  close(table_);
  close(stop_);
}

bool MountTableWatch::Wait(int timeoutMs) {
  pollfd events[2] = {{stop_, POLLIN, 0}, {table_, POLLPRI, 0}};
  while (poll(events, 2, timeoutMs) < 0 && errno == EINTR) {}
  return (events[0].revents & POLLIN) == 0;
}

void MountTableWatch::Stop() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t written = write(stop_, &one, sizeof(one));
}
