// Verify of a backup: the catalogue digest of every file of the listed partitions' sets
// (versions 3 and later), and each partition's raw region MD5 and every block's MD5 against
// the bytes the read path decodes. A report, never an exception, for what the image gets wrong.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "block_reader.h"
#include "content_digests.h"
#include "partition_list.h"

// One partition as the read path serves it, for verify: digests are verify's to compare.
class VerifyDisk {
 public:
  virtual ~VerifyDisk() = default;
  virtual uint64_t Size() const = 0;
  virtual uint64_t RawLength() const = 0;
  virtual uint32_t BlockSize() const = 0;
  virtual ReadStatus Read(uint64_t offset, uint32_t length, uint8_t* destination) = 0;
  // Block i as decoded, BlockSize bytes at most.
  virtual ReadStatus ReadBlock(uint32_t block, std::vector<uint8_t>& data) = 0;
};

struct VerifySources {
  // The row's partition, its image's password already in place. Null, with *error saying why,
  // when it cannot be opened (a problem of that partition); what it throws ends the verify.
  std::function<std::unique_ptr<VerifyDisk>(const PartitionRow& row, std::string* error)> Open;
  // After each block of the row's partition.
  std::function<void(size_t row, uint32_t done, uint32_t total)> Progress;
  // Set from another thread: verify stops at the next block and marks its report cancelled.
  const std::atomic<bool>* Cancel = nullptr;
  // Digests of each partition's bytes to give in its check.
  DigestRequest Digests;
};

struct VerifyProblem {
  // "catalogue of FILE", "partition N block index", "partition N", "partition N raw region",
  // "partition N block I".
  std::string Where;
  std::string What;
  std::string File;               // the image file holding what is wrong
  std::optional<uint32_t> Block;  // for one block's problem
};

enum class DigestCheck {
  Ok,
  Mismatch,
  NotChecked,  // versions before 3 carry no meaningful digest, or an index could not be read
};

struct FileCheck {
  std::string File;
  DigestCheck Digest = DigestCheck::NotChecked;
  bool Version3Form = false;  // a version-4 file whose digest is that of its version-3 form
  std::vector<VerifyProblem> Problems;
};

struct PartitionCheck {
  size_t Row = 0;  // numbered from 1, as the list shows it
  uint64_t Blocks = 0;
  uint64_t RawLength = 0;
  uint64_t BlocksChecked = 0;
  std::vector<VerifyProblem> Problems;
  // Those requested, of the partition's bytes with what cannot be read (or does not match its
  // digest) as zeros: the bytes `export --zero-bad` writes. Empty when the partition could not
  // be gone through to its end.
  std::vector<NamedDigest> Digests;
  bool Ok() const { return Problems.empty(); }
};

struct VerifyReport {
  std::vector<FileCheck> Files;  // the catalogue files, then the others, set by set
  std::vector<PartitionCheck> Partitions;  // in row order
  bool Cancelled = false;  // the report ends where the cancel flag stopped it
  // Every file's problems, then every partition's, in order.
  std::vector<VerifyProblem> Problems() const;
  bool Ok() const { return !Cancelled && Problems().empty(); }
};

VerifyReport VerifyBackup(const FolderListing& listing, const VerifySources& sources);

// "ok", "mismatch" or "not checked".
const char* DigestCheckText(DigestCheck check);
