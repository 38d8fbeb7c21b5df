#include "partition_list.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include "path_names.h"

namespace {
bool EndsWith(const std::string& name, const std::string& suffix, bool anyCase) {
  if (name.size() < suffix.size()) return false;
  return std::equal(suffix.begin(), suffix.end(), name.end() - suffix.size(), [&](char a, char b) {
    return anyCase ? std::tolower(static_cast<unsigned char>(a)) ==
                         std::tolower(static_cast<unsigned char>(b))
                   : a == b;
  });
}

// One unreadable file never stops the listing: whatever it throws (the reader's message, or
// running out of memory on a catalogue that defeats the bounds) becomes its error text.
std::unique_ptr<CImageFile> TryLoadImageFile(const std::string& path, std::string& error) {
  try {
    return LoadImageFile(path);
  } catch (const char* message) {
    error = message;
  } catch (const std::exception& e) {
    error = e.what();
  } catch (...) {
    error = "unreadable";
  }
  return nullptr;
}

uint32_t OrderKey(const ImagePartition& partition) {
  return static_cast<uint32_t>(partition.Volume.MajorOrder) * 100u + partition.Volume.MinorOrder;
}
}  // namespace

bool IsImageFileName(const std::string& name, ScanRule rule) {
  if (rule == ScanRule::QvimgExact) return EndsWith(name, ".qvimg", false);
  return EndsWith(name, ".qvimg", true) || EndsWith(name, ".qvbak", true);
}

bool FindChosenBackup(const FolderListing& listing, const std::string& chosenPath, ImageId& id,
                      uint16_t& backupNumber) {
  return std::any_of(listing.Sets.begin(), listing.Sets.end(), [&](const ImageSet& set) {
    return FindImageByPath(set, chosenPath, id, backupNumber);
  });
}

void AddBackupRows(FolderListing& listing, const ImageId& id, uint16_t backupNumber,
                   bool evenIncomplete) {
  for (ImageSet& set : listing.Sets) {
    if (set.Id != id) continue;
    for (auto& image : set.CatalogueFiles) {
      if (image->BackupNumber != backupNumber) continue;
      if (!evenIncomplete && !AllFilesPresent(set, *image)) continue;
      for (auto& disk : image->Disks)
        for (auto& partition : disk->Partitions) {
          partition->Image = image.get();
          listing.Rows.push_back({image.get(), partition.get()});
        }
    }
  }
  std::stable_sort(listing.Rows.begin(), listing.Rows.end(),
                   [](const PartitionRow& a, const PartitionRow& b) {
                     if (a.Image->BackupTime != b.Image->BackupTime)
                       return a.Image->BackupTime > b.Image->BackupTime;
                     return OrderKey(*a.Partition) < OrderKey(*b.Partition);
                   });
}

FolderListing LoadImageFolder(
    const std::string& chosenPath, ScanRule rule,
    const std::function<std::vector<std::string>(const std::string&)>& folderNames) {
  FolderListing listing;
  std::string folder = PathFolder(chosenPath);
  std::string chosenBase = PathBaseName(chosenPath);
  for (const std::string& name : folderNames(folder.empty() ? "." : folder)) {
    if (!IsImageFileName(name, rule)) continue;
    std::string error;
    if (auto image = TryLoadImageFile(folder + name, error))
      AddImageToSets(listing.Sets, std::move(image));
    else if (PathBaseName(name) == chosenBase)
      listing.ChosenFileError = error;
  }

  ImageId id{};
  uint16_t backupNumber = 0;
  if (!FindChosenBackup(listing, chosenPath, id, backupNumber)) {
    listing.Message = "'" + chosenPath + "' is corrupt";
    if (listing.ChosenFileError.empty())  // not scanned (name or extension): read it for why
      TryLoadImageFile(chosenPath, listing.ChosenFileError);
    return listing;
  }
  listing.ChosenFileError.clear();  // a same-named companion failed, the chosen file did not

  AddBackupRows(listing, id, backupNumber, false);
  if (listing.Rows.empty()) {
    listing.Message = "'" + chosenPath +
                      "' is part of a multi file image and at least one of the files does not "
                      "exists in this directory";
  }
  return listing;
}
