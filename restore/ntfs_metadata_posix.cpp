#include "ntfs_metadata_posix.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

namespace {

// The largest value the kernel passes for an extended attribute. Asking with a buffer this size
// needs no size probe (one call where a probe would make two), and ntfs-3g never sees a buffer
// too small (it answers that with EIO rather than ERANGE).
constexpr size_t kLargestValue = 65536;

}  // namespace

AttributeValue ReadAttribute(const std::string& path, const std::string& name) {
  thread_local std::vector<uint8_t> buffer(kLargestValue);
  const ssize_t got = lgetxattr(path.c_str(), name.c_str(), buffer.data(), buffer.size());
  if (got < 0) return {std::nullopt, errno};
  return {std::vector<uint8_t>(buffer.begin(), buffer.begin() + got), 0};
}

int WriteAttribute(const std::string& path, const std::string& name, const std::vector<uint8_t>& value) {
  return lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) == 0 ? 0 : errno;
}

AttributeNames ListAttributes(const std::string& path) {
  thread_local std::vector<char> list(kLargestValue);
  const ssize_t got = llistxattr(path.c_str(), list.data(), list.size());
  if (got < 0) return {{}, errno};
  AttributeNames names;
  for (size_t at = 0; at < size_t(got);) {
    const size_t length = strnlen(list.data() + at, size_t(got) - at);
    if (length) names.Names.emplace_back(list.data() + at, length);
    at += length + 1;
  }
  return names;
}

namespace {

uint32_t BigEndian32(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < 4) return 0;
  return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
}

std::vector<uint8_t> BigEndianBytes(uint32_t value) {
  return {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
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
  // Most files share their folder's descriptor, which the new file already has: the write
  // is skipped then.
  if (fields.Acl.Bytes && ReadAttribute(path, kNtfsAclAttribute).Bytes != fields.Acl.Bytes)
    Write(path, kNtfsAclAttribute, *fields.Acl.Bytes, failures);
  if (fields.Attributes.Bytes) {
    // Keep what the destination's own nature decides (directory, sparse, reparse point, ...).
    const uint32_t current = ReadWindowsAttributes(path);
    const uint32_t wanted = (current & kFileAttributesNotWritable) |
                            (BigEndian32(*fields.Attributes.Bytes) & ~kFileAttributesNotWritable);
    if (wanted != current)
      Write(path, kNtfsAttribAttribute,
            BigEndianBytes(wanted), failures);
  }
  const std::vector<std::string> times = WriteNtfsTimes(path, fields);
  failures.insert(failures.end(), times.begin(), times.end());
  return failures;
}

int CompressContentsLikeSource(const std::string& sourceFolder, const std::string& destinationFolder) {
  if (!(ReadWindowsAttributes(sourceFolder) & kFileAttributeCompressed)) return 0;
  const uint32_t wanted = ReadWindowsAttributes(destinationFolder) | kFileAttributeCompressed;
  return WriteAttribute(destinationFolder, kNtfsAttribAttribute,
                        BigEndianBytes(wanted));
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
