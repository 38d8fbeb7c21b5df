// Damaged and hostile catalogues end in the system's messages, without crashing and without
// allocating or looping over what a count claims but the file cannot hold.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "catalogue_store.h"
#include "image_fixtures.h"

namespace {
constexpr uint32_t kMarker = 0xA5C3E1F7;

// One disk with one partition whose uninterpreted fields carry markers, so a test can find
// the count that follows each.
std::unique_ptr<CImageFile> MarkedImage() {
  auto image = std::make_unique<CImageFile>();
  image->CatalogueFlag = 1;
  auto disk = std::make_unique<ImageDisk>();
  disk->Value = kMarker;  // followed by the extended boot record and partition counts
  auto partition = std::make_unique<ImagePartition>();
  partition->Volume.Counts[7] = kMarker + 1;  // followed by the file reference count
  partition->Blocks.Value = kMarker + 2;      // followed by the digest, then the block count
  partition->Volume.FileRefs = {{0, "", 0}};
  disk->Partitions.push_back(std::move(partition));
  image->Disks.push_back(std::move(disk));
  return image;
}

std::vector<uint8_t> FileOf(const CImageFile& image, size_t indexEntries = 0) {
  std::vector<std::vector<BlockEntry>> indexes;
  for (const auto& disk : image.Disks)
    for (size_t i = 0; i < disk->Partitions.size(); ++i) indexes.emplace_back(indexEntries);
  std::vector<uint8_t> bytes = StoreCatalogue(image, indexes, CatalogueForm::File);
  bytes.insert(bytes.end(), 16, 0);  // digest: never checked
  return bytes;
}

size_t After(const std::vector<uint8_t>& bytes, uint32_t marker) {
  uint8_t pattern[4];
  for (int i = 0; i < 4; ++i) pattern[i] = static_cast<uint8_t>(marker >> (8 * i));
  auto found = std::search(bytes.begin(), bytes.end(), pattern, pattern + 4);
  EXPECT_NE(found, bytes.end());
  return static_cast<size_t>(found - bytes.begin()) + 4;
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A count written over the one at At, and the message loading then throws ("" when it loads).
struct CountCase {
  const char* Name;
  size_t At;
  uint32_t Value;
  const char* Message;
};

class HostileCatalogue : public ::testing::Test {
 protected:
  // The message loading bytes throws, or "" when it loads.
  std::string Load(const std::vector<uint8_t>& bytes) {
    std::string path = folder_.File("hostile.qvimg");
    WriteWholeFile(path, bytes);
    try {
      LoadImageFile(path);
    } catch (const char* message) {
      return message;
    }
    return "";
  }
  TempFolder folder_;
};

TEST_F(HostileCatalogue, TheMarkedImageItselfLoads) { EXPECT_EQ(Load(FileOf(*MarkedImage(), 3)), ""); }

TEST_F(HostileCatalogue, TrailerFaultsAreRejectedBeforeTheCatalogue) {
  std::vector<uint8_t> good = FileOf(*MarkedImage());
  size_t end = good.size();
  struct Case {
    const char* Name;
    std::function<void(std::vector<uint8_t>&)> Damage;
    const char* Message;
  } cases[] = {
      {"magic lacks its zero", [&](auto& b) { b[end - 40 + 21] = '_'; }, "Invalid File"},
      {"version 7", [&](auto& b) { b[end - 18] = 7; }, "File is from a more recent version of Quillon"},
      // Nothing is allocated from an offset: the catalogue is read wherever it points.
      {"catalogue offset inside the trailer", [&](auto& b) { Put32(b, end - 48, static_cast<uint32_t>(end - 47)); }, "CStdArchive& operator>>(CStdString& s)"},
      {"catalogue offset at the end", [&](auto& b) { Put32(b, end - 48, static_cast<uint32_t>(end)); }, "CStdArchive& operator>>(unsigned char& c)"},
      {"catalogue offset 2^63", [&](auto& b) { b[end - 41] = 0x80; }, "CStdArchive& operator>>(unsigned char& c)"},
      {"shorter than a trailer", [&](auto& b) { b.erase(b.begin(), b.end() - 47); }, "Invalid File"},
      {"empty", [&](auto& b) { b.clear(); }, "Invalid File"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = good;
    c.Damage(bytes);
    EXPECT_EQ(Load(bytes), c.Message) << c.Name;
  }
}

TEST_F(HostileCatalogue, CountsAreBoundedByTheFormatAndReadAsTheyCome) {
  std::vector<uint8_t> good = FileOf(*MarkedImage());
  size_t extendedBootRecords = After(good, kMarker);
  size_t partitions = extendedBootRecords + 4;
  size_t fileRefs = After(good, kMarker + 1);
  size_t blocks = After(good, kMarker + 2) + 16;
  CountCase cases[] = {
      {"extended boot records 2^31 - 1", extendedBootRecords, 0x7FFFFFFF, "Invalid File"},
      {"extended boot records 257", extendedBootRecords, 257, "Invalid File"},
      {"extended boot records 256, none stored", extendedBootRecords, 256, "CStdArchive& operator>>(unsigned char& c)"},
      {"negative extended boot records: none", extendedBootRecords, 0xFFFFFFFF, ""},
      {"partitions 2^31 - 1", partitions, 0x7FFFFFFF, "Invalid File"},
      {"partitions 257", partitions, 257, "Invalid File"},
      {"negative partitions: none", partitions, 0x80000000, ""},
      {"two partitions in room for one", partitions, 2, "CStdArchive& operator>>(unsigned char& c)"},
      {"file references 2^31 - 1", fileRefs, 0x7FFFFFFF, "Invalid File"},
      {"file references 65537", fileRefs, 65537, "Invalid File"},
      {"negative file references: none", fileRefs, 0xFFFFFFF0, ""},
      // The last partition's index is skipped with one seek: running past the end costs nothing.
      {"blocks 2^32 - 1", blocks, 0xFFFFFFFF, ""},
      {"one block more than the file holds", blocks, 1000, ""},
  };
  for (const CountCase& c : cases) {
    std::vector<uint8_t> bytes = good;
    Put32(bytes, c.At, c.Value);
    EXPECT_EQ(Load(bytes), c.Message) << c.Name;
  }
}

// A sparse file makes its size no bound: a count may claim a hole of zeros that would hold
// billions of entries and cost nothing on disk.
TEST_F(HostileCatalogue, CountsOverAHoleInASparseFileAllocateOnlyWhatTheFormatAllows) {
#ifdef _WIN32
  // Wine grows a file only as far as the disk's free space, so the hole is not free there.
  GTEST_SKIP() << "a 64 GiB hole needs a host file system's sparse files";
#endif
  std::vector<uint8_t> good = FileOf(*MarkedImage());
  std::vector<uint8_t> trailer(good.end() - 48, good.end());
  Put32(trailer, 0, 0);  // the catalogue starts the file
  CountCase cases[] = {
      {"extended boot records", After(good, kMarker), 0x07000000, "Invalid File"},  // 61 GB
      {"file references", After(good, kMarker + 1), 0x7FFFFFFF, "Invalid File"},
      {"as many file references as a set has files", After(good, kMarker + 1), 65536, ""},
  };
  for (const CountCase& c : cases) {
    std::vector<uint8_t> bytes(good.begin(), good.begin() + c.At);
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(c.Value >> (8 * i)));
    std::string path = folder_.File("sparse.qvimg");
    WriteWholeFile(path, bytes);
    uint64_t size = uint64_t{1} << 36;
    std::filesystem::resize_file(path, size - trailer.size());
    std::ofstream(path, std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char*>(trailer.data()), static_cast<std::streamsize>(trailer.size()));
    std::string message;
    try {
      auto image = LoadImageFile(path);
      EXPECT_EQ(image->Disks.at(0)->Partitions.at(0)->Volume.FileRefs.size(), c.Value) << c.Name;
    } catch (const char* thrown) {
      message = thrown;
    }
    EXPECT_EQ(message, c.Message) << c.Name;
  }
}

TEST_F(HostileCatalogue, AnIndexRunningPastTheFileKeepsItsPositionAndTheOtherPartitions) {
  auto image = MarkedImage();
  auto second = std::make_unique<ImagePartition>();
  second->Blocks.Value = kMarker + 3;
  image->Disks[0]->Partitions.push_back(std::move(second));
  std::vector<uint8_t> good = FileOf(*image, 2);

  std::vector<uint8_t> lastCut = good;
  Put32(lastCut, After(good, kMarker + 3) + 16, 0x10000000);
  std::string path = folder_.File("index.qvimg");
  WriteWholeFile(path, lastCut);
  auto loaded = LoadImageFile(path);
  ASSERT_EQ(loaded->Disks[0]->Partitions.size(), 2u);
  const CPartitionBlocks& intact = loaded->Disks[0]->Partitions[0]->Blocks;
  const CPartitionBlocks& cut = loaded->Disks[0]->Partitions[1]->Blocks;
  EXPECT_EQ(loaded->StoredSize, lastCut.size());
  EXPECT_EQ(intact.IndexEnd(loaded->Version), intact.IndexOffset + 60);
  EXPECT_LE(intact.IndexEnd(loaded->Version), loaded->StoredSize);
  EXPECT_EQ(cut.BlockCount, 0x10000000u);
  EXPECT_EQ(cut.IndexOffset, After(good, kMarker + 3) + 20);
  EXPECT_GT(cut.IndexEnd(loaded->Version), loaded->StoredSize);

  // Past the first partition's index lies nothing: the second partition's start is cut off.
  std::vector<uint8_t> firstCut = good;
  Put32(firstCut, After(good, kMarker + 2) + 16, 0x10000000);
  EXPECT_EQ(Load(firstCut), "CStdArchive& operator>>(unsigned __int64 & n)");
}

TEST_F(HostileCatalogue, AFirstTrackCutShortFailsAtTheFieldAfterIt) {
  std::vector<uint8_t> good = FileOf(*MarkedImage());
  size_t trackEnd = After(good, kMarker) - 4;
  std::vector<uint8_t> bytes(good.begin(), good.begin() + trackEnd - 100);
  bytes.insert(bytes.end(), good.end() - 48, good.end());
  Put32(bytes, bytes.size() - 48, 0);
  // The track's raw read takes the trailer's bytes too; the value after it finds none.
  EXPECT_EQ(Load(bytes), "CStdArchive& operator>>(unsigned long& ul)");
}

TEST_F(HostileCatalogue, DiskAndFileBackupCountsHaveTheirLimits) {
  auto image = MarkedImage();
  for (int i = 0; i < 9; ++i) image->Disks.push_back(std::make_unique<ImageDisk>());
  EXPECT_EQ(Load(FileOf(*image)), "");  // 10 disks
  image->Disks.push_back(std::make_unique<ImageDisk>());
  EXPECT_EQ(Load(FileOf(*image)), "File Error");

  auto backup = std::make_unique<CImageFile>();
  backup->FileBackup = 1;
  backup->BackupStrings.assign(500, "s");
  EXPECT_EQ(Load(FileOf(*backup)), "");
  backup->BackupStrings.push_back("s");
  EXPECT_EQ(Load(FileOf(*backup)), "Invalid File");
}

TEST_F(HostileCatalogue, NegativeDiskCountIsAFileError) {
  std::vector<uint8_t> bytes = FileOf(*MarkedImage());
  Put32(bytes, After(bytes, kMarker) - 4 - 32256 - 24 - 5 - 4 - 4 - 4, 0xFFFFFFFF);
  EXPECT_EQ(Load(bytes), "File Error");
}

TEST_F(HostileCatalogue, CatalogueWithoutDisksLoadsEmpty) {
  CImageFile image;
  image.FileNumber = 4;
  std::string path = folder_.File("data.qvimg");
  WriteWholeFile(path, FileOf(image));
  auto loaded = LoadImageFile(path);
  EXPECT_EQ(loaded->FileNumber, 4);
  EXPECT_TRUE(loaded->Disks.empty());
}

TEST_F(HostileCatalogue, EveryCutOfTheCatalogueFailsCleanly) {
  // The trailer stays, the catalogue loses its tail: each cut before the last block index ends
  // in a message; a cut inside that index, which is never read, loads.
  std::vector<uint8_t> good = FileOf(*MarkedImage(), 2);
  std::vector<uint8_t> trailer(good.end() - 48, good.end());
  size_t lastIndex = After(good, kMarker + 2) + 16 + 4;
  for (size_t keep = 0; keep + 48 < good.size(); keep += 97) {
    std::vector<uint8_t> bytes(good.begin(), good.begin() + keep);
    bytes.insert(bytes.end(), trailer.begin(), trailer.end());
    Put32(bytes, bytes.size() - 48, 0);
    EXPECT_EQ(Load(bytes) == "", keep >= lastIndex) << "cut at " << keep;
  }
}

TEST_F(HostileCatalogue, RandomDamageNeverCrashes) {
  std::vector<uint8_t> good = FileOf(*MarkedImage(), 2);
  std::mt19937 random(1234);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> bytes = good;
    for (int k = 0; k < 8; ++k) bytes[random() % (bytes.size() - 48)] = static_cast<uint8_t>(random());
    Load(bytes);  // any message or a load, never a crash
  }
}
}  // namespace
