// The partition list's load: the library's folder rules run on a loader thread while the
// calling thread waits for it.
#pragma once
#include <string>

#include "partition_list.h"

// Windows file names ignore letter case, and so does the open-file dialog: BACKUP.QVIMG is an
// image like any other, and must not be reported as corrupt.
inline constexpr ScanRule kImageListScanRule = ScanRule::ImagesAnyCase;

// Looks every 100 ms whether the loader is done; no messages are handled meanwhile.
FolderListing LoadOnLoaderThread(const std::string& chosenPath);
