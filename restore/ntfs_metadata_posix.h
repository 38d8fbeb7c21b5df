// What ntfs-3g shows of an NTFS file beyond its data: extended attributes read and written by
// name, never following a link (ntfs-3g shows junctions as symbolic links, and the following
// calls would reach the junction's target instead).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The system.* names are not listed by listxattr: they are asked for by name.
inline constexpr const char* kNtfsAclAttribute = "system.ntfs_acl";           // whole security descriptor
inline constexpr const char* kNtfsAttribAttribute = "system.ntfs_attrib_be";  // Windows attributes, big-endian
inline constexpr const char* kNtfsTimesAttribute = "system.ntfs_times";       // creation, write, access, change
inline constexpr const char* kNtfsReparseAttribute = "system.ntfs_reparse_data";
// Alternate data streams, with streams_interface=xattr (ntfs-3g's default).
inline constexpr const char* kStreamPrefix = "user.";

inline constexpr uint32_t kFileAttributeReadOnly = 0x1;
inline constexpr uint32_t kFileAttributeHidden = 0x2;
inline constexpr uint32_t kFileAttributeSystem = 0x4;
inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeSparse = 0x200;
inline constexpr uint32_t kFileAttributeReparsePoint = 0x400;
inline constexpr uint32_t kFileAttributeCompressed = 0x800;
// Bits that follow from what the file is (directory, device, sparse, reparse point,
// compressed, offline, encrypted) and that ntfs-3g refuses or ignores when written.
inline constexpr uint32_t kFileAttributesNotWritable = 0x10 | 0x40 | 0x200 | 0x400 | 0x800 | 0x1000 | 0x4000;
// The times written back: creation, last write, last access (the change time is the volume's).
inline constexpr size_t kNtfsTimesWritten = 24;

// One attribute's value; errno tells why not (ENODATA: the file has none).
struct AttributeValue {
  std::optional<std::vector<uint8_t>> Bytes;
  int Error = 0;
};

// A value over 64 KiB cannot pass the kernel's interface: E2BIG.
AttributeValue ReadAttribute(const std::string& path, const std::string& name);
// 0 or the errno of the write.
int WriteAttribute(const std::string& path, const std::string& name, const std::vector<uint8_t>& value);
// Every listed name (the user.* ones are the streams); errno when the list could not be read.
struct AttributeNames {
  std::vector<std::string> Names;
  int Error = 0;
};
AttributeNames ListAttributes(const std::string& path);

// The Windows attributes of a path, 0 when ntfs-3g gives none.
uint32_t ReadWindowsAttributes(const std::string& path);

// The NTFS fields a faithful copy carries from one path to another, in the order that keeps
// each write from undoing an earlier one: security, attributes (after the data, so that a
// read-only bit blocks nothing), times last. Each failed field is named with the system's
// reason in the returned list; fields the source does not have are left alone.
struct NtfsFields {
  AttributeValue Acl, Attributes, Times;
};
NtfsFields ReadNtfsFields(const std::string& path);
// The Windows attributes among them, 0 when there are none.
uint32_t WindowsAttributesOf(const NtfsFields& fields);
std::vector<std::string> WriteNtfsFields(const std::string& path, const NtfsFields& fields);
// A folder that compresses what is written into it, as the source's folder did: set before its
// contents are written, since ntfs-3g compresses only files made in such a folder (the bit
// cannot be set on a file). 0 or the errno of the write.
int CompressContentsLikeSource(const std::string& sourceFolder, const std::string& destinationFolder);
// Only the times, for a folder whose contents changed after its fields were written.
std::vector<std::string> WriteNtfsTimes(const std::string& path, const NtfsFields& fields);

// "what: reason" in the system's words.
std::string FailureText(const std::string& what, int error);
