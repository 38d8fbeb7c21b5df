// What the user chose for one restore, and what the run tells the front end afterwards. The
// program fills the choices from its main dialog, `harvesta restore` from its options.
#pragma once
#include <cstdint>
#include <string>

struct BootChoices {
  bool MarkActive = true;
  bool ReplaceDiskId = true;
  bool ReplaceBootSector = true;
  bool UpdateBootConfiguration = true;
};

inline constexpr int kFileSystemNtfs = 0;
inline constexpr int kFileSystemFat32 = 1;
inline constexpr int kDefaultClusterIndex = 3;  // 4096 bytes

struct RestoreChoices {
  // A drive root such as "E:\": its first character is the destination letter, its first two
  // name the drive in messages and for formatting.
  std::string Destination;
  // How the destination is named where a drive letter means nothing ("/dev/sdb1"): in the
  // messages and to the formatter. Empty: "drive E:" and "E:".
  std::string DestinationName;
  bool Format = false;
  int FileSystemIndex = kFileSystemNtfs;
  std::string FileSystemName = "NTFS";  // handed to the formatter as it is
  int ClusterIndex = kDefaultClusterIndex;
  bool Bootable = false;
  BootChoices Boot;
  bool RunCopy = false;
  bool HideOutput = false;
  std::string CommandTemplate;
};

// Each run starts from a fresh one: a copy cancelled in one run must not mark the next.
struct RestoreStatus {
  char VirtualLetter = 0;    // the letter the partition was mounted on
  bool ShowResult = true;    // cleared by every failure that has already told the user why
  bool RobocopyRan = false;  // the copy command was started in this run
  bool Cancelled = false;    // the user cancelled the copy in this run
  bool operator==(const RestoreStatus&) const = default;
};

inline constexpr int kClusterIndexCount = 7;
// Index 0 to 6 of the cluster list: 512 to 32,768 bytes; any other index the default's 4096.
inline uint32_t ClusterSizeBytes(int clusterIndex) {
  if (clusterIndex < 0 || clusterIndex >= kClusterIndexCount) clusterIndex = kDefaultClusterIndex;
  return uint32_t{512} << clusterIndex;
}
