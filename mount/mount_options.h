// The -o options of a Linux mount, and what each layer makes of them: the FUSE disk files take
// the owner and the modes, ntfs-3g and vfat take them too, file systems that store their own
// owners (ext2/3/4, XFS, Btrfs) keep those.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// uid=, gid=, umask=, fmask=, dmask= as given: unset ones keep each layer's default.
struct FileOwnership {
  std::optional<uid_t> Uid;
  std::optional<gid_t> Gid;
  std::optional<mode_t> Umask;     // masks files and folders
  std::optional<mode_t> FileMask;  // files only, in place of Umask
  std::optional<mode_t> DirMask;   // folders only, in place of Umask

  bool Any() const { return Uid || Gid || Umask || FileMask || DirMask; }
  // base (the layer's own mode bits) with the mask that applies taken away.
  mode_t FileMode(mode_t base) const { return base & ~FileMask.value_or(Umask.value_or(0)); }
  mode_t DirMode(mode_t base) const { return base & ~DirMask.value_or(Umask.value_or(0)); }
  // "uid=1000,gid=1000,umask=022": the same names ntfs-3g and vfat take; empty when none set.
  std::string MountOptionText() const;
};

struct MountOptionSet {
  FileOwnership Ownership;
  bool AllowExec = false;   // exec
  bool AllowOther = false;  // allow_other: users other than root reach the FUSE layer
  bool NonEmpty = false;    // nonempty: a mount point with files in it is taken anyway
};

// Every -o given, each a comma-separated list ("uid=1000,umask=027"). uid= and gid= take a
// number or a user or group name, the masks octal numbers up to 777. Throws MountError naming
// the option and listing the accepted ones.
MountOptionSet ParseMountOptions(const std::vector<std::string>& lists);
