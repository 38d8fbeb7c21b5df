// Resource identifiers of the program's dialog controls, through which other programs drive it,
// and the texts the tests look for.
#pragma once

enum : int {
  kImagePath = 1000, kFormat = 1002, kBootable = 1003, kDestination = 1005, kRunCopy = 1007,
  kHideOutput = 1008, kImageList = 1009, kFileSystem = 1010, kClusterSize = 1011, kDefaultCommand = 1014,
  kAdvanced = 1015, kCommand = 1073, kBrowse = 1040,
  kMarkActive = 1017, kReplaceDiskId = 1016, kReplaceBootSector = 1018, kUpdateBootConfiguration = 1019,
  kPassword = 1053,
};

inline constexpr char kBrowseHint[] = "Click the browse button and select an image file...";
