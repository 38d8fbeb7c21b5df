// What the main dialog shows and allows, apart from any window: the enabling rules, the
// destination drives, the entries of its lists and its fixed texts.
#pragma once
#include <array>
#include <functional>
#include <string>
#include <vector>

inline constexpr char kBrowseHint[] = "Click the browse button and select an image file...";
inline constexpr char kSelectImageMessage[] = "Please select an image file";

inline constexpr std::array<const char*, 2> kFileSystemEntries = {"NTFS", "FAT32"};
inline constexpr std::array<const char*, 7> kClusterSizeEntries = {"512",  "1024", "2048", "4096",
                                                                   "8192", "16K",  "32K"};

struct ControlEnabling {
  bool Start = false;            // something to do
  bool Advanced = false;         // boot settings
  bool CopyControls = false;     // command box, Hide Output, Default
  bool FormatControls = false;   // file system and cluster size
  bool operator==(const ControlEnabling&) const = default;
};
ControlEnabling EnablingFor(bool format, bool bootable, bool runCopy);

// "X:\" for each letter C to Z whose root exists, without the system drive's letter.
std::vector<std::string> DestinationRoots(char systemLetter, const std::function<bool(char)>& rootExists);
