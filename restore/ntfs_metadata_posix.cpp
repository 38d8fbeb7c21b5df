#include "ntfs_metadata_posix.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

AttributeValue ReadAttribute(const std::string& path, const std::string& name) {
  // The value may grow between the size probe and the read; a few rounds settle it.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t size = lgetxattr(path.c_str(), name.c_str(), nullptr, 0);
    if (size < 0) return {std::nullopt, errno};
    std::vector<uint8_t> bytes(size_t(size) + 1);
    const ssize_t got = lgetxattr(path.c_str(), name.c_str(), bytes.data(), bytes.size());
    if (got >= 0 && size_t(got) < bytes.size()) {
      bytes.resize(size_t(got));
      return {std::move(bytes), 0};
    }
    if (got < 0 && errno != ERANGE && errno != EIO) return {std::nullopt, errno};
  }
  return {std::nullopt, EIO};
}

int WriteAttribute(const std::string& path, const std::string& name, const std::vector<uint8_t>& value) {
  return lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) == 0 ? 0 : errno;
}

AttributeNames ListAttributes(const std::string& path) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t size = llistxattr(path.c_str(), nullptr, 0);
    if (size < 0) return {{}, errno};
    std::vector<char> list(size_t(size) + 1);
    const ssize_t got = llistxattr(path.c_str(), list.data(), list.size());
    if (got < 0 && errno != ERANGE) return {{}, errno};
    if (got < 0 || size_t(got) >= list.size()) continue;
    AttributeNames names;
    for (size_t at = 0; at < size_t(got);) {
      const size_t length = strnlen(list.data() + at, size_t(got) - at);
      if (length) names.Names.emplace_back(list.data() + at, length);
      at += length + 1;
    }
    return names;
  }
  return {{}, ERANGE};
}

namespace {

uint32_t BigEndian32(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 4) return 0;
  return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
}

void Write(const std::string& path, const char* name, const std::vector<uint8_t>& value,
           std::vector<std::string>& failures) {
  if (const int error = WriteAttribute(path, name, value)) failures.push_back(FailureText(name, error));
}

}  // namespace

uint32_t ReadWindowsAttributes(const std::string& path) {
  const AttributeValue value = ReadAttribute(path, kNtfsAttribAttribute);
  return value.Bytes ? BigEndian32(*value.Bytes) : 0;
}

uint32_t WindowsAttributesOf(const NtfsFields& fields) {
  return fields.Attributes.Bytes ? BigEndian32(*fields.Attributes.Bytes) : 0;
}

NtfsFields ReadNtfsFields(const std::string& path) {
  return {ReadAttribute(path, kNtfsAclAttribute), ReadAttribute(path, kNtfsAttribAttribute),
          ReadAttribute(path, kNtfsTimesAttribute)};
}

std::vector<std::string> WriteNtfsFields(const std::string& path, const NtfsFields& fields) {
  std::vector<std::string> failures;
  if (fields.Acl.Bytes) Write(path, kNtfsAclAttribute, *fields.Acl.Bytes, failures);
  if (fields.Attributes.Bytes) {
    // Keep what the destination's own nature decides (directory, sparse, reparse point, ...).
    const uint32_t current = ReadWindowsAttributes(path);
    const uint32_t wanted = (current & kFileAttributesNotWritable) |
                            (BigEndian32(*fields.Attributes.Bytes) & ~kFileAttributesNotWritable);
    if (wanted != current)
      Write(path, kNtfsAttribAttribute,
            {uint8_t(wanted >> 24), uint8_t(wanted >> 16), uint8_t(wanted >> 8), uint8_t(wanted)}, failures);
  }
  const std::vector<std::string> times = WriteNtfsTimes(path, fields);
  failures.insert(failures.end(), times.begin(), times.end());
  return failures;
}

std::vector<std::string> WriteNtfsTimes(const std::string& path, const NtfsFields& fields) {
  std::vector<std::string> failures;
  if (fields.Times.Bytes && fields.Times.Bytes->size() >= kNtfsTimesWritten)
    Write(path, kNtfsTimesAttribute,
          std::vector<uint8_t>(fields.Times.Bytes->begin(), fields.Times.Bytes->begin() + kNtfsTimesWritten),
          failures);
  return failures;
}

std::string FailureText(const std::string& what, int error) { return what + ": " + strerror(error); }
