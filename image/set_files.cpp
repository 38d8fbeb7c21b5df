#include "set_files.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>

#include "block_index.h"
#include "file_io.h"
#include "image_format.h"
#include "path_names.h"

namespace {
namespace fs = std::filesystem;

std::string FileNameOf(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }

bool IsMember(const ImageSet& set, uint16_t number) {
  for (const auto* list : {&set.CatalogueFiles, &set.OtherFiles})
    for (const auto& member : *list)
      if (member->FileNumber == number) return true;
  return false;
}

// Offsets and lengths come from the catalogue: a hostile pair must not wrap round to a small end.
uint64_t EndOf(uint64_t offset, uint64_t length) {
  uint64_t end = 0;
  return __builtin_add_overflow(offset, length, &end) ? UINT64_MAX : end;
}

// The end of the last byte the catalogue places in file `number`; 0 when its index cannot be read.
uint64_t DataEndIn(const CImageFile& catalogue, uint16_t number) {
  uint64_t end = 0;
  for (const auto& disk : catalogue.Disks)
    for (const auto& partition : disk->Partitions) {
      const CPartitionBlocks& blocks = partition->Blocks;
      if (blocks.RawRegionFile == number)
        end = std::max(end, EndOf(blocks.RawRegionOffset, partition->Volume.RawRegionLength()));
      std::string error;
      if (auto index = ReadBlockIndex(catalogue, blocks, &error))
        for (const BlockEntry& entry : *index)
          if (entry.FileNumber == number && (entry.LengthAndMethod & kStoredLengthMask))
            end = std::max(end, EndOf(entry.Offset, entry.LengthAndMethod & kStoredLengthMask));
    }
  return end;
}

// Why the file at path is not the set's member `number`.
void Diagnose(LackingSetFile& lacking, const ImageSet& set, const CImageFile& catalogue) {
  std::error_code error;
  const fs::file_status status = fs::status(lacking.Path, error);
  if (!fs::exists(status)) {
    lacking.Reason = LackingSetFile::Why::Missing;
    if (error && error != std::errc::no_such_file_or_directory) {
      lacking.Reason = LackingSetFile::Why::Unreadable;
      lacking.Detail = error.message();
    }
    return;
  }
  if (fs::is_directory(status)) {
    lacking.Reason = LackingSetFile::Why::Folder;
    return;
  }
  errno = 0;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(OpenFileForReading(lacking.Path), std::fclose);
  if (!file) {
    lacking.Reason = LackingSetFile::Why::Unreadable;
    lacking.Detail = errno ? std::generic_category().message(errno) : "not a regular file";
    return;
  }
  const int64_t size = SeekFile(file.get(), 0, SEEK_END) == 0 ? TellFile(file.get()) : -1;
  file.reset();
  const uint64_t dataEnd = DataEndIn(catalogue, lacking.Number);
  const uint64_t expected = EndOf(dataEnd, kTrailerSize);
  if (size >= 0 && dataEnd && uint64_t(size) < expected) {
    lacking.Reason = LackingSetFile::Why::Truncated;
    lacking.Size = uint64_t(size);
    lacking.ExpectedAtLeast = expected;
    return;
  }
  try {
    std::unique_ptr<CImageFile> image = LoadImageFile(lacking.Path);
    lacking.Reason = image->Id == set.Id && image->FileNumber == lacking.Number
                         ? LackingSetFile::Why::NotScanned
                         : LackingSetFile::Why::OtherBackup;
  } catch (const char* message) {
    lacking.Reason = LackingSetFile::Why::NotAnImage;
    lacking.Detail = message;
  } catch (const std::exception& e) {
    lacking.Reason = LackingSetFile::Why::NotAnImage;
    lacking.Detail = e.what();
  }
}
}  // namespace

std::string LackingSetFile::Text() const {
  const std::string name = "'" + Path + "'";
  switch (Reason) {
    case Why::Missing:
      return Path.empty() ? "file number " + std::to_string(Number) + " of the backup is missing"
                          : name + " is missing";
    case Why::Folder: return name + " is a folder";
    case Why::Unreadable: return "cannot read " + name + ": " + Detail;
    case Why::Truncated:
      return name + " is truncated: " + std::to_string(Size) + " bytes, at least " +
             std::to_string(ExpectedAtLeast) + " expected";
    case Why::NotAnImage: return name + " is damaged: " + Detail;
    case Why::OtherBackup: return name + " belongs to another backup";
    case Why::NotScanned: return name + " is not named as an image file (.qvimg or .qvbak)";
  }
  return name;
}

std::vector<LackingSetFile> LackingSetFiles(const FolderListing& listing, const std::string& chosenPath) {
  ImageId id{};
  uint16_t backupNumber = 0;
  if (!FindChosenBackup(listing, chosenPath, id, backupNumber)) return {};
  const ImageSet& set = *FindSet(listing.Sets, id);
  std::map<uint16_t, LackingSetFile> lacking;
  for (const auto& catalogue : set.CatalogueFiles) {
    if (catalogue->BackupNumber != backupNumber) continue;
    for (const auto& disk : catalogue->Disks)
      for (const auto& partition : disk->Partitions)
        for (const FileRef& ref : partition->Volume.FileRefs) {
          if (IsMember(set, ref.Number) || lacking.count(ref.Number)) continue;
          LackingSetFile& file = lacking[ref.Number];
          file.Number = ref.Number;
          if (ref.Text.empty()) continue;
          file.Path = PathFolder(chosenPath) + FileNameOf(ref.Text);
          Diagnose(file, set, *catalogue);
        }
  }
  std::vector<LackingSetFile> files;
  for (auto& [number, file] : lacking) files.push_back(std::move(file));
  return files;
}

const CImageFile* CatalogueLacking(const FolderListing& listing, const std::string& path) {
  const std::string name = FileNameOf(path);
  for (const ImageSet& set : listing.Sets)
    for (const auto& catalogue : set.CatalogueFiles)
      for (const auto& disk : catalogue->Disks)
        for (const auto& partition : disk->Partitions)
          for (const FileRef& ref : partition->Volume.FileRefs)
            if (!ref.Text.empty() && FileNameOf(ref.Text) == name && !IsMember(set, ref.Number))
              return catalogue.get();
  return nullptr;
}

bool PartitionFilesPresent(const FolderListing& listing, const ImagePartition& partition) {
  const CImageFile* image = partition.Image;
  const ImageSet* set = image ? FindSet(listing.Sets, image->Id) : nullptr;
  if (!set) return false;
  return std::all_of(partition.Volume.FileRefs.begin(), partition.Volume.FileRefs.end(),
                     [&](const FileRef& ref) { return IsMember(*set, ref.Number); });
}
