// Why IMAGE's backup lists no partitions, told apart as a user needs it: the file does not
// exist, cannot be read, is a folder, is no image file, is damaged, or its set lacks files
// (named, with why). The image library keeps the list's own messages for the Windows program.
#pragma once
#include <string>
#include <vector>

#include "commands.h"
#include "partition_list.h"
#include "set_files.h"

// The error for a listing with a message (LoadImageFolder's).
CommandError ListingFailure(const FolderListing& listing, const std::string& imagePath);

// "the backup of 'x' lacks files: 'a' is missing; 'b' is truncated: ..."; its status is that
// of a damaged image when any file is there but unusable.
CommandError LackingFilesFailure(const std::string& imagePath, const std::vector<LackingSetFile>& lacking);
