#include <gtest/gtest.h>

#include "mount_request.h"

namespace {
// The files a mount names: each file reference once, in order, then the catalogue file when
// the references leave it out. A catalogue that repeats a number must not make the record
// name a slot twice (the record parser refuses that, so the partition would never mount).
TEST(MountValues, NameEachFileOnceAndTheCatalogueFileLast) {
  struct Case {
    const char* Name;
    std::vector<uint16_t> References;
    uint16_t CatalogueNumber;
    std::vector<uint16_t> Files;
  } cases[] = {
      {"repeat_dropped", {0, 0, 1}, 1, {0, 1}},
      {"catalogue_named_first", {2, 0, 1}, 2, {2, 0, 1}},
      {"catalogue_added", {0, 1, 1}, 2, {0, 1, 2}},
      {"none_listed", {}, 0, {0}},
  };
  for (const Case& c : cases) {
    ImageSet set;
    auto catalogue = std::make_unique<CImageFile>();
    catalogue->FileNumber = c.CatalogueNumber;
    catalogue->CatalogueFlag = 1;
    catalogue->FilePath = "set-" + std::to_string(c.CatalogueNumber) + ".qvimg";
    auto partition = std::make_unique<ImagePartition>();
    for (uint16_t number : c.References) partition->Volume.FileRefs.push_back({number, "", 0});
    for (uint16_t number = 0; number < c.CatalogueNumber; ++number) {
      auto other = std::make_unique<CImageFile>();
      other->FileNumber = number;
      other->FilePath = "set-" + std::to_string(number) + ".qvimg";
      set.OtherFiles.push_back(std::move(other));
    }
    set.CatalogueFiles.push_back(std::move(catalogue));
    MountValues values = MakeMountValues(set, *set.CatalogueFiles[0], *partition);
    std::vector<uint16_t> numbers;
    for (const MountFile& file : values.Files) {
      numbers.push_back(file.Number);
      EXPECT_EQ(file.Path, "set-" + std::to_string(file.Number) + ".qvimg") << c.Name;
    }
    EXPECT_EQ(numbers, c.Files) << c.Name;
  }
}
}  // namespace
