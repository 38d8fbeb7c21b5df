// A mounted disk as verify reads it (Linux): blocks are served unchecked, since verify compares
// every block's digest itself and names a mismatch as such.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "mounted_disk.h"
#include "verify.h"

class MountedVerifyDisk final : public VerifyDisk {
 public:
  explicit MountedVerifyDisk(std::vector<uint8_t> record)
      : disk_(std::move(record), MountedDiskOptions{.CheckDigests = false, .Pool = nullptr}) {}
  uint64_t Size() const override { return disk_.Size(); }
  uint64_t RawLength() const override { return disk_.Layout().RawLength; }
  uint32_t BlockSize() const override { return disk_.Layout().BlockSize; }
  ReadStatus Read(uint64_t offset, uint32_t length, uint8_t* destination) override {
    return disk_.Read(offset, length, destination);
  }
  ReadStatus ReadBlock(uint32_t block, std::vector<uint8_t>& data) override {
    BlockLocation location;
    return disk_.ReadBlock(block, data, &location);
  }

 private:
  MountedDisk disk_;
};

// Null, with *error saying why, when the record's disk cannot be opened.
inline std::unique_ptr<VerifyDisk> OpenVerifyDisk(std::vector<uint8_t> record, std::string* error) {
  try {
    return std::make_unique<MountedVerifyDisk>(std::move(record));
  } catch (const MountedDiskError& e) {
    *error = e.what();
    return nullptr;
  }
}
