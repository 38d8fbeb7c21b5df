// What mount, export and verify share: the listing of an image's backup, the partition row a
// --partition number names, the password, and the mount record built from them.
#pragma once
#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "partition_list.h"
#include "set_files.h"

struct PasswordOptions {
  std::string PasswordFile;  // "-": standard input; empty: HARVESTA_PASSWORD, else standard input
};

// Gives every subcommand that takes --password-file a --tries N (default 3): the attempts a
// prompt on the terminal allows. Called once all subcommands are added.
void AddPasswordTriesOptions(CLI::App& app);

// Throws CommandError saying why (listing_failure.h) when IMAGE's backup has no partitions to show.
FolderListing LoadListing(const std::string& imagePath);
// For a check of the backup: when its set lacks files, *lacking names them and the rows hold
// every partition of its catalogues (PartitionFilesPresent tells which can be read); throws as
// LoadListing does for anything else.
FolderListing LoadListingEvenIncomplete(const std::string& imagePath, std::vector<LackingSetFile>* lacking);
// Rows are numbered from 1 as `harvesta list` shows them.
const PartitionRow& ChoosePartition(const FolderListing& listing, int number);
const ImageSet& SetOf(const FolderListing& listing, const CImageFile& image);

// Where a protected image's password comes from: the password file's first line (standard
// input's for "-"), else HARVESTA_PASSWORD (taken out of the environment when the source is
// made, so that no child process inherits it), else a prompt on the terminal, else standard
// input's first line.
class PasswordSource {
 public:
  explicit PasswordSource(PasswordOptions options);
  ~PasswordSource();
  PasswordSource(const PasswordSource&) = delete;
  PasswordSource& operator=(const PasswordSource&) = delete;
  // As given (UTF-8); the caller wipes it. Throws CommandError when there is none to be had.
  std::string Text(const CImageFile& image) const;
  // How many entries a wrong one may be followed by: a prompt's tries, else one.
  int Attempts() const;

 private:
  PasswordOptions options_;
  std::string fromEnvironment_;  // HARVESTA_PASSWORD, out of the environment from construction on
  bool inEnvironment_ = false;
};
using PasswordKeeper = PasswordSource;  // the name mount and export still use

// Puts the accepted password on the row's image, where the mount record takes it from; asks
// once per image (up to --tries times at a prompt), and not at all for an image without
// password. Throws CommandError with kExitWrongPassword when the password is wrong.
void UnlockImage(const PartitionRow& row, const PasswordSource& passwords);

// The mount record of a row, from its image alone: unlock the image first.
std::vector<uint8_t> MountRecordFor(const FolderListing& listing, const PartitionRow& row);
// Unlocks the row's image, then builds its record.
std::vector<uint8_t> MountRecordFor(const FolderListing& listing, const PartitionRow& row,
                                    const PasswordSource& passwords);
