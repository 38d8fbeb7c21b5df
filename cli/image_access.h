// What mount, export and verify share: the listing of an image's backup, the partition row a
// --partition number names, the password, and the mount record built from them.
#pragma once
#include <cstdint>
#include <map>
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

// Passwords of protected images as Windows-1252 bytes, each checked against its image's
// digest before use and asked for once per image.
class PasswordKeeper {
 public:
  explicit PasswordKeeper(PasswordOptions options) : options_(std::move(options)) {}
  // Empty for an image without password. Throws CommandError when the password is wrong.
  const std::string& For(const CImageFile& image);

 private:
  PasswordOptions options_;
  std::map<const CImageFile*, std::string> accepted_;
};

// The mount record of a row, with the key field from its image's password.
std::vector<uint8_t> MountRecordFor(const FolderListing& listing, const PartitionRow& row,
                                    PasswordKeeper& passwords);
