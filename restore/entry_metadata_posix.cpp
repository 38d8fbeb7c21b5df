#include "entry_metadata_posix.h"

#include <fcntl.h>

#include <cerrno>


SourceStreams ReadStreams(const std::string& source) {
  SourceStreams streams;
  const AttributeNames names = ListAttributes(source);
  // A file system without extended attributes has no streams to lose.
  if (names.Error && names.Error != ENOTSUP) streams.ListError = names.Error;
  for (const std::string& name : names.Names)
    if (name.rfind(kStreamPrefix, 0) == 0)
      streams.Streams.emplace_back(name.substr(std::char_traits<char>::length(kStreamPrefix)),
                                   ReadAttribute(source, name));
  return streams;
}

std::vector<std::string> WriteStreams(const std::string& destination, const SourceStreams& streams) {
  std::vector<std::string> failures;
  if (streams.ListError) failures.push_back(FailureText("listing alternate data streams", streams.ListError));
  for (const auto& [name, value] : streams.Streams) {
    const std::string shown = "alternate data stream " + name;
    // Streams over 64 KiB exceed what extended attributes carry: E2BIG names them here.
    if (!value.Bytes) failures.push_back(FailureText(shown, value.Error));
    else if (const int error = WriteAttribute(destination, kStreamPrefix + name, *value.Bytes))
      failures.push_back(FailureText(shown, error));
  }
  return failures;
}

std::vector<std::string> CopyStreams(const std::string& source, const std::string& destination) {
  return WriteStreams(destination, ReadStreams(source));
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
