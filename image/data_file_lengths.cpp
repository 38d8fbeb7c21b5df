#include "data_file_lengths.h"

#include <algorithm>
#include <string>

void NoteExtent(FileExtents& extents, uint16_t number, uint64_t end) {
  uint64_t& known = extents[number];
  known = std::max(known, end);
}

// Every file the partitions place data in must be there and reach as far as that data: a
// file cut short or gone is named as such, beside what its partitions' checks say.
void CheckFileLengths(const FileExtents& extents, std::vector<FileCheck>& files, size_t first,
                      size_t end) {
  for (const auto& [number, reach] : extents) {
    const auto setEnd = files.begin() + ptrdiff_t(end);
    auto file =
        std::find_if(files.begin() + ptrdiff_t(first), setEnd,
                     [number = number](const FileCheck& check) { return check.Number == number; });
    if (file == setEnd) {
      FileCheck missing;
      missing.Number = number;
      missing.Present = false;
      missing.ExpectedBytes = reach;
      missing.Problems.push_back(
          {"file " + std::to_string(number) + " of the set", "missing", {}, {}});
      files.push_back(std::move(missing));
      continue;
    }
    file->ExpectedBytes = reach;
    if (file->Bytes < reach)
      file->Problems.push_back({file->File,
                                "truncated, expected " + std::to_string(reach) + " bytes, has " +
                                    std::to_string(file->Bytes),
                                file->File,
                                {}});
  }
}
