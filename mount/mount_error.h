// What the Linux mount layers (FUSE disk, file system mount, watcher, runtime folder) throw: one
// line for the user, with the path or program it concerns.
#pragma once
#include <stdexcept>

struct MountError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
