// Test fixtures written at test time: raw partition images with varied content, image sets
// written by the image writer, and a reader that decodes a written partition back through its
// block index.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image_set.h"
#include "image_writer.h"

// A fresh empty folder, removed when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// length bytes mixing compressible text, random bytes and whole zero stretches.
std::vector<uint8_t> MakeVolumeBytes(size_t length, uint32_t seed);

// Loads every path into sets, as the folder list does.
std::vector<ImageSet> LoadSets(const std::vector<std::string>& paths);

// The volume bytes of partition as the read path would produce them: raw region, then every
// block through its index entry (decrypted with image.Password, decompressed).
std::vector<uint8_t> ReadVolumeBack(const ImageSet& set, const CImageFile& image,
                                    const ImagePartition& partition);
