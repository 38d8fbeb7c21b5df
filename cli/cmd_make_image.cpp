// harvesta make-image OUTPUT -p PARTITION...: writes an image set from raw partition images,
// in any shape the reader accepts (for tests, demos and anyone who needs a test image).
#include <fmt/core.h>

#include <map>
#include <memory>

#include "commands.h"
#include "image_writer.h"
#include "password.h"

namespace {
struct MakeImageOptions {
  ImageWriterOptions Writer;
  std::vector<std::string> PartitionSpecs;
  std::string Method = "method1";
  std::string Password;
  std::string Id;
  uint32_t ExtendedBootRecords = 0;
  uint32_t Signature = 0x48415256;
  // Given on the command line: these only take effect with another option.
  CLI::Option* Cipher = nullptr;
  CLI::Option* MethodGiven = nullptr;
};

uint64_t ParseNumber(const std::string& text, const std::string& what) {
  try {
    size_t used = 0;
    uint64_t value = std::stoull(text, &used, 0);  // decimal, or 0x... hexadecimal
    if (used == text.size() && text[0] != '-') return value;
  } catch (const std::exception&) {
  }
  throw CommandError(fmt::format("{}: '{}' is not a number", what, text));
}

std::string ToWindows1252(const std::string& utf8, const std::string& what) {
  auto bytes = Utf8ToWindows1252(utf8);
  if (!bytes) throw CommandError(what + " holds characters that Windows-1252 cannot hold");
  return *bytes;
}

// PATH[,disk=N][,type=N][,letter=X][,label=TEXT][,raw=BYTES][,start=BYTES][,free=BYTES]
//     [,major=N][,minor=N][,warn]
std::pair<int32_t, WriterPartition> ParsePartitionSpec(const std::string& spec) {
  std::vector<std::string> fields;
  for (size_t start = 0;;) {
    size_t comma = spec.find(',', start);
    fields.push_back(spec.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  WriterPartition partition;
  partition.SourcePath = fields[0];
  int32_t disk = 0;
  for (size_t i = 1; i < fields.size(); ++i) {
    const std::string& field = fields[i];
    size_t equals = field.find('=');
    std::string key = field.substr(0, equals);
    std::string value = equals == std::string::npos ? "" : field.substr(equals + 1);
    auto number = [&] { return ParseNumber(value, "partition " + key); };
    if (key == "disk") disk = static_cast<int32_t>(number());
    else if (key == "type") partition.Type = static_cast<uint8_t>(number());
    else if (key == "letter" && value.size() == 1 && std::isalpha(static_cast<unsigned char>(value[0])))
      partition.DriveLetter = static_cast<char>(std::toupper(static_cast<unsigned char>(value[0])));
    else if (key == "label") partition.Label = ToWindows1252(value, "label");
    else if (key == "raw") partition.RawRegionLength = number();
    else if (key == "start") partition.Start = number();
    else if (key == "free") partition.FreeBytes = number();
    else if (key == "major") partition.MajorOrder = static_cast<int32_t>(number());
    else if (key == "minor") partition.MinorOrder = static_cast<uint16_t>(number());
    else if (key == "warn" && value.empty()) partition.Warning = true;
    else throw CommandError("unknown partition field '" + field + "'");
  }
  return {disk, partition};
}

ImageId ParseImageId(const std::string& hex) {
  ImageId id{};
  if (hex.size() != 16 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    throw CommandError("--id takes 16 hexadecimal digits");
  for (size_t i = 0; i < id.size(); ++i)
    id[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  return id;
}

// An option that would change nothing is refused: the image would not be what was asked for.
void RefuseIneffectiveOptions(const MakeImageOptions& options) {
  if (options.Cipher->count() && options.Password.empty())
    throw CommandError("make-image: --cipher takes effect only with --password", kExitUsage);
  if (options.MethodGiven->count() && options.Writer.CompressionLevel == 0)
    throw CommandError("make-image: --method takes effect only with --compression 1 or 2", kExitUsage);
}

void RunMakeImage(MakeImageOptions& options) {
  RefuseIneffectiveOptions(options);
  ImageWriterOptions& writer = options.Writer;
  writer.FirstFileAtOutputPath = true;
  static const std::map<std::string, BlockMethod> kMethods = {
      {"method1", BlockMethod::Method1},
      {"byte-tokens", BlockMethod::ByteTokens},
      {"alternate", BlockMethod::Alternate}};
  writer.Method = kMethods.at(options.Method);
  writer.Password = ToWindows1252(options.Password, "--password");
  if (!options.Id.empty()) writer.Id = ParseImageId(options.Id);

  std::map<int32_t, size_t> diskSlots;  // disk number to its place, in order of appearance
  for (const std::string& spec : options.PartitionSpecs) {
    auto [diskNumber, partition] = ParsePartitionSpec(spec);
    auto [slot, added] = diskSlots.try_emplace(diskNumber, writer.Disks.size());
    if (added) {
      WriterDisk disk;
      disk.Number = diskNumber;
      disk.Signature = options.Signature + static_cast<uint32_t>(diskNumber);
      disk.ExtendedBootRecords = options.ExtendedBootRecords;
      writer.Disks.push_back(disk);
    }
    writer.Disks[slot->second].Partitions.push_back(partition);
  }
  try {
    for (const std::string& path : WriteImage(writer)) fmt::print("{}\n", path);
  } catch (const ImageWriterError& e) {
    throw CommandError(std::string("make-image: ") + e.what());
  }
}
}  // namespace

void AddMakeImageCommand(CLI::App& app) {
  auto options = std::make_shared<MakeImageOptions>();
  ImageWriterOptions& writer = options->Writer;
  CLI::App* make = app.add_subcommand("make-image", "Write an image set from raw partition images");
  make->add_option("OUTPUT", writer.OutputPath,
                   "Image file to write; with --split, the first file of the set (the others: OUTPUT's name plus -NN)")
      ->required();
  make->add_option("-p,--partition", options->PartitionSpecs,
                   "PATH[,disk=N][,type=0x07][,letter=C][,label=TEXT][,raw=BYTES][,start=BYTES]"
                   "[,free=BYTES][,major=N][,minor=N][,warn] (repeatable)")
      ->required();
  make->add_option("--format-version", writer.Version, "Image format version 0 to 6")
      ->capture_default_str()->check(CLI::Range(0, 6));
  make->add_flag("--version-3-digest", writer.Version3Digest,
                 "With --format-version 4: store the catalogue digest of the version-3 form");
  make->add_option("--block-size", writer.BlockSize, "Block size in bytes")->capture_default_str();
  make->add_option("--compression", writer.CompressionLevel, "0 none, 1 medium, 2 high")
      ->capture_default_str()->check(CLI::Range(0, 2));
  options->MethodGiven = make->add_option("--method", options->Method, "Compressed block format")
      ->capture_default_str()->check(CLI::IsMember({"method1", "byte-tokens", "alternate"}));
  make->add_option("--password", options->Password, "Encrypt the blocks with this password");
  options->Cipher = make->add_option("--cipher", writer.CipherType, "AES key size with --password: 1 128-bit, 2 192-bit, 3 256-bit")
      ->capture_default_str()->check(CLI::Range(1, 3));
  make->add_option("--split", writer.SplitSize, "Start a new file once one holds this many bytes of data");
  make->add_option("--backup-number", writer.BackupNumber, "Backup number of every file written");
  make->add_option("--id", options->Id, "Image identifier, 16 hex digits (default: random)");
  make->add_option("--time", writer.BackupTime, "Backup time, seconds since 1970 (default: now)");
  make->add_flag("--full-copy", writer.FullCopy, "Mark every sector as imaged");
  make->add_flag("--file-backup", writer.FileBackup, "Write a *.qvbak file backup of one FAT32 volume");
  make->add_option("--ebr", options->ExtendedBootRecords, "Extended boot records per disk");
  make->add_option("--signature", options->Signature, "Disk signature of disk 0 (disk N: + N)");
  make->callback([options] { RunMakeImage(*options); });
}
