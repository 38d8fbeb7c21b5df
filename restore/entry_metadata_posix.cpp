#include "entry_metadata_posix.h"

#include <fcntl.h>

#include <cerrno>

#include "ntfs_metadata_posix.h"

std::vector<std::string> CopyStreams(const std::string& source, const std::string& destination) {
  std::vector<std::string> failures;
  const AttributeNames names = ListAttributes(source);
  if (names.Error) {
    if (names.Error != ENOTSUP) failures.push_back(FailureText("listing alternate data streams", names.Error));
    return failures;
  }
  for (const std::string& name : names.Names) {
    if (name.rfind(kStreamPrefix, 0) != 0) continue;
    const std::string shown = "alternate data stream " + name.substr(std::char_traits<char>::length(kStreamPrefix));
    // Streams over 64 KiB exceed what extended attributes carry: E2BIG names them here.
    const AttributeValue value = ReadAttribute(source, name);
    if (!value.Bytes) {
      failures.push_back(FailureText(shown, value.Error));
      continue;
    }
    if (const int error = WriteAttribute(destination, name, *value.Bytes))
      failures.push_back(FailureText(shown, error));
  }
  return failures;
}

std::vector<std::string> CopyTimes(const std::string& destination, const struct stat& source) {
  const timespec times[2] = {source.st_atim, source.st_mtim};
  if (utimensat(AT_FDCWD, destination.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
    return {FailureText("times", errno)};
  return {};
}

std::vector<std::string> CopyModeAndTimes(const std::string& destination, const struct stat& source) {
  std::vector<std::string> failures;
  // A link has no permission bits of its own on Linux.
  if (!S_ISLNK(source.st_mode) && fchmodat(AT_FDCWD, destination.c_str(), source.st_mode & 07777, 0) != 0)
    failures.push_back(FailureText("permissions", errno));
  const std::vector<std::string> times = CopyTimes(destination, source);
  failures.insert(failures.end(), times.begin(), times.end());
  return failures;
}
