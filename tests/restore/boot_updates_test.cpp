// The file side of the boot updates on a Wine folder standing for the destination's root. The
// sector side needs NTFS volumes and physical disks, which Wine does not have.
#include <windows.h>

#include <gtest/gtest.h>

#include "boot_updates_win32.h"
#include "wine_files.h"

namespace {

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t k = 0; k < size; ++k) bytes[k] = uint8_t(k * 5 + 3);
  return bytes;
}

void Store(std::vector<uint8_t>& bytes, size_t at, uint64_t value, int width) {
  for (int k = 0; k < width; ++k) bytes[at + k] = uint8_t(value >> (8 * k));
}

TEST(MarkBootStatus, SetsByteElevenOfAFullStatusFileOnly) {
  TestFolder root("boot-status");
  CreateDirectoryA((root.Path() + "Windows").c_str(), nullptr);
  const std::string status = root.Path() + "Windows\\bootstat.dat";
  for (size_t size : {size_t{12}, size_t{64}, size_t{11}}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> expected = Pattern(size);
    WriteBytes(status, expected);
    if (size >= 12) expected[11] = 1;
    MarkBootStatus(root.Path());
    EXPECT_EQ(ReadBytes(status), expected);
  }
  DeleteFileA(status.c_str());
  MarkBootStatus(root.Path());
  EXPECT_FALSE(PathExists(status)) << "a missing status file is not created";
}

TEST(UpdateBootConfiguration, RewritesMatchingReferencesInPlace) {
  TestFolder root("boot-config");
  CreateDirectoryA((root.Path() + "Boot").c_str(), nullptr);
  const std::string store = root.Path() + "Boot\\BCD";
  const BootConfigurationRewrite rewrite{{0x100000, 0xA1B2C3D4}, {0x7E00000, 0x11223344}};

  std::vector<uint8_t> bytes = Pattern(4096);
  Store(bytes, 1000, rewrite.Key.PartitionOffset, 8);
  Store(bytes, 1024, rewrite.Key.Signature, 4);
  std::vector<uint8_t> expected = bytes;
  Store(expected, 1000, rewrite.Replacement.PartitionOffset, 8);
  Store(expected, 1024, rewrite.Replacement.Signature, 4);
  WriteBytes(store, bytes);
  EXPECT_EQ(UpdateBootConfiguration(root.Path(), rewrite), 1);
  EXPECT_EQ(ReadBytes(store), expected);

  // Read but without a match: 1, unchanged.
  WriteBytes(store, Pattern(4096));
  EXPECT_EQ(UpdateBootConfiguration(root.Path(), rewrite), 1);
  EXPECT_EQ(ReadBytes(store), Pattern(4096));

  WriteBytes(store, {});
  EXPECT_EQ(UpdateBootConfiguration(root.Path(), rewrite), 0) << "an empty store";
  // Sparse, so its size says nothing of what it holds: not read into memory.
  const HANDLE huge = CreateFileA(store.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(huge, INVALID_HANDLE_VALUE);
  LARGE_INTEGER end;
  end.QuadPart = (64ll << 20) + 1;
  ASSERT_TRUE(SetFilePointerEx(huge, end, nullptr, FILE_BEGIN) && SetEndOfFile(huge));
  CloseHandle(huge);
  EXPECT_EQ(UpdateBootConfiguration(root.Path(), rewrite), 0) << "a store over 64 MiB";
  DeleteFileA(store.c_str());
  EXPECT_EQ(UpdateBootConfiguration(root.Path(), rewrite), 0) << "no store";
  EXPECT_FALSE(PathExists(store));
}

// A letter with no volume: each step ends at its first check.
TEST(BootSectors, ALetterWithoutAVolumeChangesNothing) {
  char unmapped = 0;
  for (char letter = 'Y'; letter > 'D' && !unmapped; --letter)
    if (!(GetLogicalDrives() & (1u << (letter - 'A')))) unmapped = letter;
  ASSERT_NE(unmapped, 0);
  EXPECT_EQ(UpdatePartitionBootSector(unmapped, 'C'), BootSectorError::SourceNotNtfs);
  // Wine's C: drive calls itself NTFS.
  EXPECT_EQ(UpdatePartitionBootSector('C', unmapped), BootSectorError::DestinationNotNtfs);
  const DestinationDisk disk = UpdateDestinationDisk(unmapped, 0x11223344, {true, true});
  EXPECT_EQ(disk.PartitionOffset, 0u);
  EXPECT_FALSE(disk.Record.has_value());
  EXPECT_FALSE(disk.RecordWritten);
}

}  // namespace
