// What mount, export and verify share: the listing of an image's backup, the partition row a
// --partition number names, the password, and the mount record built from them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "partition_list.h"

struct PasswordOptions {
  std::string PasswordFile;  // empty: HARVESTA_PASSWORD, else a prompt on the terminal
};

// Throws CommandError with the list's message when IMAGE's backup has no partitions to show.
FolderListing LoadListing(const std::string& imagePath);
// Rows are numbered from 1 as `harvesta list` shows them.
const PartitionRow& ChoosePartition(const FolderListing& listing, int number);
const ImageSet& SetOf(const FolderListing& listing, const CImageFile& image);

// Where a protected image's password comes from: the password file's first line, else
// HARVESTA_PASSWORD, else a prompt on the terminal.
class PasswordSource {
 public:
  explicit PasswordSource(PasswordOptions options) : options_(std::move(options)) {}
  // As given (UTF-8); the caller wipes it. Throws CommandError when there is none to be had.
  std::string Text(const CImageFile& image) const;

 private:
  PasswordOptions options_;
};
using PasswordKeeper = PasswordSource;  // the name mount and export still use

// Puts the accepted password on the row's image, where the mount record takes it from; asks
// once per image, and not at all for an image without password. Throws CommandError when the
// password is wrong.
void UnlockImage(const PartitionRow& row, const PasswordSource& passwords);

// The mount record of a row, from its image alone: unlock the image first.
std::vector<uint8_t> MountRecordFor(const FolderListing& listing, const PartitionRow& row);
// Unlocks the row's image, then builds its record.
std::vector<uint8_t> MountRecordFor(const FolderListing& listing, const PartitionRow& row,
                                    const PasswordSource& passwords);
