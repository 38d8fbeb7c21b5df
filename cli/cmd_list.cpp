// harvesta list IMAGE [--json]: the partitions of IMAGE's backup, as the partition list shows
// them, numbered 1..n in list order (the numbers later commands take as --partition N).
#include <fmt/core.h>

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "image_access.h"
#include "partition_list.h"
#include "partition_list_columns.h"
#include "password.h"
#include "text_helpers.h"

namespace {
struct ListOptions {
  std::string ImagePath;
  bool Json = false;
};

int PartitionIndexOnDisk(const ImagePartition& partition) {
  const auto& partitions = partition.Disk->Partitions;
  auto found = std::find_if(partitions.begin(), partitions.end(),
                            [&](const auto& p) { return p.get() == &partition; });
  return static_cast<int>(found - partitions.begin());
}

nlohmann::json RowJson(size_t number, const PartitionRow& row) {
  const ImagePartition& partition = *row.Partition;
  const VolumeInfo& volume = partition.Volume;
  const CImageFile& image = *row.Image;
  nlohmann::json driveLetter = nullptr;
  if (volume.DriveLetter) driveLetter = std::string(1, volume.DriveLetter) + ":";
  return {
      {"row", number},
      {"disk", partition.Disk->Number},
      {"partition", PartitionIndexOnDisk(partition)},
      {"label", Windows1252ToUtf8(volume.Label)},
      {"drive_letter", driveLetter},
      {"original_location", Windows1252ToUtf8(OriginalLocationText(volume))},
      {"backup_time", image.BackupTime},
      {"backup_date", FormatDateTime(image.BackupTime, 1, 2)},
      {"backup_id", FormatImageId(image.Id)},
      {"capacity", volume.Capacity()},
      {"used", volume.UsedSpace()},
      {"free", volume.FreeSpace()},
      {"partition_type", partition.TypeByte()},
      {"file_system", PartitionFileSystemText(partition.TypeByte())},
      {"compression", image.CompressionLevel},
      {"files", volume.FileRefs.size()},
      {"intelligent_sector_copy", image.FullCopy == 0},
      {"password_protected", image.PasswordFlag != 0},
      {"cipher_type", image.PasswordFlag ? image.CipherType : 0},
      {"image_file", image.FilePath},  // the host's own path, not a catalogue text
  };
}

// Control characters from a catalogue would reach the terminal as its commands.
std::string WithControlsEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F)
      out += fmt::format("\\x{:02x}", byte);
    else
      out += c;
  }
  return out;
}

void PrintTable(const std::vector<PartitionRow>& rows) {
  std::vector<std::vector<std::string>> table;
  table.emplace_back(1, "#");
  table[0].insert(table[0].end(), kPartitionColumnHeaders.begin(), kPartitionColumnHeaders.end());
  for (size_t i = 0; i < rows.size(); ++i) {
    auto texts = PartitionColumnTexts(rows[i]);
    std::vector<std::string> line{std::to_string(i + 1)};
    for (const auto& text : texts) line.push_back(WithControlsEscaped(Windows1252ToUtf8(text)));
    table.push_back(std::move(line));
  }
  // Widths in code points: labels may hold non-ASCII characters.
  auto width = [](const std::string& s) {
    return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
  };
  std::vector<size_t> widths(table[0].size(), 0);
  for (const auto& line : table)
    for (size_t c = 0; c < line.size(); ++c) widths[c] = std::max(widths[c], width(line[c]));
  auto rightAligned = [](size_t column) { return column == 0 || (column >= 4 && column <= 6); };
  for (const auto& line : table) {
    std::string out;
    for (size_t c = 0; c < line.size(); ++c) {
      std::string pad(widths[c] - width(line[c]), ' ');
      out += rightAligned(c) ? pad + line[c] : line[c] + (c + 1 < line.size() ? pad : "");
      if (c + 1 < line.size()) out += "  ";
    }
    fmt::print("{}\n", out);
  }
}

void RunList(const ListOptions& options) {
  FolderListing listing = LoadListing(options.ImagePath);
  if (options.Json) {
    nlohmann::json partitions = nlohmann::json::array();
    for (size_t i = 0; i < listing.Rows.size(); ++i)
      partitions.push_back(RowJson(i + 1, listing.Rows[i]));
    // A path that is not UTF-8 is shown with replacement characters rather than failing.
    fmt::print("{}\n", nlohmann::json{{"partitions", partitions}}.dump(
                           2, ' ', false, nlohmann::json::error_handler_t::replace));
  } else {
    PrintTable(listing.Rows);
  }
}
}  // namespace

void AddListCommand(CLI::App& app) {
  auto options = std::make_shared<ListOptions>();
  CLI::App* list = app.add_subcommand("list", "List the partitions of an image's backup");
  list->add_option("IMAGE", options->ImagePath, "A *.qvimg or *.qvbak file of the backup")->required();
  list->add_flag("--json", options->Json, "Print {\"partitions\": [...]} instead of a table");
  list->callback([options] { RunList(*options); });
}
