// What the Linux mount layers (FUSE disk, file system mount, watcher, runtime folder) throw: one
// line for the user, with the path or program it concerns, and what kind of refusal it is.
#pragma once
#include <stdexcept>
#include <string>

enum class MountErrorKind {
  Failed,
  Busy,            // something still uses the mount point
  NothingMounted,  // nothing of harvesta's is mounted at the path
};

struct MountError : std::runtime_error {
  explicit MountError(const std::string& message, MountErrorKind kind = MountErrorKind::Failed)
      : std::runtime_error(message), Kind(kind) {}
  MountErrorKind Kind;
};
