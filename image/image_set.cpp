#include "image_set.h"

#include <algorithm>
#include <cctype>

#include "file_io.h"
#include "path_names.h"

namespace {
using FileList = std::vector<std::unique_ptr<CImageFile>>;

const CImageFile* FindNumber(const FileList& files, uint16_t number) {
  for (const auto& file : files)
    if (file->FileNumber == number) return file.get();
  return nullptr;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}
}  // namespace

bool AddImageToSets(std::vector<ImageSet>& sets, std::unique_ptr<CImageFile> image) {
  auto set = std::find_if(sets.begin(), sets.end(),
                          [&](const ImageSet& s) { return s.Id == image->Id; });
  if (set == sets.end()) {
    sets.push_back(ImageSet{image->Id, {}, {}});
    set = sets.end() - 1;
  }
  FileList& list = image->CatalogueFlag ? set->CatalogueFiles : set->OtherFiles;
  if (FindNumber(list, image->FileNumber)) return false;
  list.push_back(std::move(image));
  std::stable_sort(list.begin(), list.end(),
                   [](const auto& a, const auto& b) { return a->FileNumber < b->FileNumber; });
  return true;
}

const ImageSet* FindSet(const std::vector<ImageSet>& sets, const ImageId& id) {
  for (const ImageSet& set : sets)
    if (set.Id == id) return &set;
  return nullptr;
}

bool LocateFileNumber(const ImageSet& set, uint16_t number, CStdString& path) {
  const CImageFile* member = FindNumber(set.CatalogueFiles, number);
  if (!member) member = FindNumber(set.OtherFiles, number);
  if (!member) return false;
  path = member->FilePath;
  std::FILE* file = OpenFileForReading(path);
  if (!file) return false;
  std::fclose(file);
  return true;
}

bool AllFilesPresent(const ImageSet& set, const CImageFile& image) {
  for (const auto& disk : image.Disks)
    for (const auto& partition : disk->Partitions)
      for (const FileRef& ref : partition->Volume.FileRefs)
        if (!FindNumber(set.OtherFiles, ref.Number) && !FindNumber(set.CatalogueFiles, ref.Number))
          return false;
  return true;
}

bool FindImageByPath(const ImageSet& set, const CStdString& path, ImageId& id,
                     uint16_t& backupNumber) {
  std::string wanted = PathBaseName(path);
  for (const FileList* list : {&set.CatalogueFiles, &set.OtherFiles})
    for (const auto& member : *list)
      if (EqualIgnoringCase(PathBaseName(member->FilePath), wanted)) {
        id = member->Id;
        backupNumber = member->BackupNumber;
        return true;
      }
  return false;
}
