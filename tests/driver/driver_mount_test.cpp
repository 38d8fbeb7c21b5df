// Mounts that must fail cleanly, unmount, the device set and who may open a device.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "driver_service.h"
#include "mount_record.h"
#include "test_images.h"
#include "virtual_drive.h"

namespace {

constexpr ImageShape kSplitShape = {"mount-split", 6, 0, BlockMethod::Method1, 0, 3 * 32768, 0, 32768};

using Record = std::vector<uint8_t>;

template <typename T>
void Put(Record& record, size_t offset, T value) {
  memcpy(record.data() + offset, &value, sizeof value);
}

template <typename T>
T Get(const Record& record, size_t offset) {
  T value;
  memcpy(&value, record.data() + offset, sizeof value);
  return value;
}

// The record with its first file list entry naming path instead.
Record WithFirstPath(const Record& record, const std::string& path) {
  const size_t first = kMountRecordHeaderSize;
  const size_t nul = first + strlen(reinterpret_cast<const char*>(record.data() + first));
  Record changed(first + path.size() + (record.size() - nul));
  memcpy(changed.data(), record.data(), first);
  memcpy(changed.data() + first, path.data(), path.size());
  memcpy(changed.data() + first + path.size(), record.data() + nul, record.size() - nul);
  Put<uint16_t>(changed, offsetof(MountRecord, FileListLength), uint16_t(changed.size() - first));
  return changed;
}

// Another handle with write access conflicts with the driver's open (share read only).
DWORD OpenForWriting(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(file);
  return ERROR_SUCCESS;
}

class MountTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { image_ = new TestImage(MakeTestImage(kSplitShape)); }
  static void TearDownTestSuite() {
    RemoveTestImage(*image_);
    delete image_;
  }
  void SetUp() override {
    ASSERT_EQ(image_->Error, "");
    ASSERT_EQ(image_->Files.size(), 3u);
  }
  static bool Idle() { return QueryDevice(0) == ERROR_NOT_READY; }

  static TestImage* image_;
  VirtualDrive drive_{0};
};

TestImage* MountTest::image_;

TEST_F(MountTest, MountHoldsTheFilesUntilUnmount) {
  ASSERT_EQ(drive_.Mount(image_->Record), DWORD(ERROR_SUCCESS));
  for (const std::string& file : image_->Files) EXPECT_EQ(OpenForWriting(file), DWORD(ERROR_SHARING_VIOLATION)) << file;
  ASSERT_EQ(drive_.Unmount(), DWORD(ERROR_SUCCESS));
  EXPECT_TRUE(Idle());
  for (const std::string& file : image_->Files) EXPECT_EQ(OpenForWriting(file), DWORD(ERROR_SUCCESS)) << file;
}

TEST_F(MountTest, MissingLastFileFailsAndClosesTheOthers) {
  const std::string last = image_->Files.back();
  const std::string moved = last + ".away";
  ASSERT_TRUE(MoveFileA(last.c_str(), moved.c_str()));
  EXPECT_EQ(drive_.Mount(image_->Record), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(Idle());
  for (size_t i = 0; i + 1 < image_->Files.size(); ++i)
    EXPECT_EQ(OpenForWriting(image_->Files[i]), DWORD(ERROR_SUCCESS)) << image_->Files[i];
  ASSERT_TRUE(MoveFileA(moved.c_str(), last.c_str()));
  EXPECT_EQ(drive_.Mount(image_->Record), DWORD(ERROR_SUCCESS));
}

struct HostileCase {
  const char* Name;
  std::function<void(Record&)> Spoil;
};

const HostileCase kHostileCases[] = {
    {"list longer than the input", [](Record& r) { Put<uint16_t>(r, offsetof(MountRecord, FileListLength), Get<uint16_t>(r, offsetof(MountRecord, FileListLength)) + 10); }},
    {"more entries than listed", [](Record& r) { Put<uint16_t>(r, offsetof(MountRecord, FileEntryCount), Get<uint16_t>(r, offsetof(MountRecord, FileEntryCount)) + 1); }},
    {"no entries", [](Record& r) { Put<uint16_t>(r, offsetof(MountRecord, FileEntryCount), 0); }},
    {"cut inside the last entry", [](Record& r) { r.resize(r.size() - 1); }},
    {"path without its NUL", [](Record& r) { r[r.size() - 3] = 'x'; }},
    {"slot beyond the slot count", [](Record& r) { Put<uint16_t>(r, r.size() - 2, Get<uint16_t>(r, offsetof(MountRecord, FileSlotCount))); }},
    {"no slots", [](Record& r) { Put<uint16_t>(r, offsetof(MountRecord, FileSlotCount), 0); }},
    {"raw slot beyond the slot count", [](Record& r) { Put<uint16_t>(r, offsetof(MountRecord, RawFileSlot), 7); }},
    {"block size zero", [](Record& r) { Put<uint32_t>(r, offsetof(MountRecord, BlockSize), 0); }},
    {"block size absurd", [](Record& r) { Put<uint32_t>(r, offsetof(MountRecord, BlockSize), 0xFFFFFFF0u); }},
    {"cipher type unknown", [](Record& r) { Put<uint16_t>(r, offsetof(MountRecord, CipherType), 9); }},
    {"index past 2^64", [](Record& r) { Put<uint64_t>(r, offsetof(MountRecord, IndexOffset), ~0ull - 8); }},
    {"raw region past 2^64", [](Record& r) { Put<uint64_t>(r, offsetof(MountRecord, RawOffset), ~0ull - 8); Put<uint64_t>(r, offsetof(MountRecord, RawLength), 4096); }},
    // Reading its own disk, the device's worker would wait on its own queue for good.
    {"an image file on the device itself", [](Record& r) { r = WithFirstPath(r, DeviceName(0)); }},
    {"an image file on another of the driver's devices", [](Record& r) { r = WithFirstPath(r, DeviceName(2)); }},
    {"a slot named twice", [](Record& r) {
       // The first entry once more, in place of nothing: the slot would be opened twice.
       const size_t first = kMountRecordHeaderSize;
       const size_t end = first + strlen(reinterpret_cast<const char*>(r.data() + first)) + 3;
       r.insert(r.end(), r.begin() + first, r.begin() + end);
       Put<uint16_t>(r, offsetof(MountRecord, FileListLength), uint16_t(r.size() - kMountRecordHeaderSize));
       Put<uint16_t>(r, offsetof(MountRecord, FileEntryCount), Get<uint16_t>(r, offsetof(MountRecord, FileEntryCount)) + 1);
     }},
};

TEST_F(MountTest, HostileRecordsAreRefused) {
  for (const HostileCase& c : kHostileCases) {
    SCOPED_TRACE(c.Name);
    Record record = image_->Record;
    c.Spoil(record);
    EXPECT_EQ(drive_.Mount(record), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(Idle());
    EXPECT_EQ(OpenForWriting(image_->Files.front()), DWORD(ERROR_SUCCESS));
  }
  // The device is none the worse for it.
  ASSERT_EQ(drive_.Mount(image_->Record), DWORD(ERROR_SUCCESS));
  uint8_t sector[512];
  ASSERT_EQ(drive_.ReadAt(0, sector, sizeof sector), DWORD(ERROR_SUCCESS));
  EXPECT_EQ(0, memcmp(sector, image_->Volume.data(), sizeof sector));
}

// Through a drive letter, as a user would name a file on a mounted image.
TEST_F(MountTest, ImageFileOnAMountedDriveOfTheDriverIsRefused) {
  VirtualDrive served(1);
  ASSERT_EQ(served.Mount(image_->Record), DWORD(ERROR_SUCCESS));
  const Record record = WithFirstPath(image_->Record, std::string("\\??\\") + served.Letter() + ":");
  EXPECT_EQ(drive_.Mount(record), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(Idle());
  uint8_t sector[512];
  ASSERT_EQ(served.ReadAt(0, sector, sizeof sector), DWORD(ERROR_SUCCESS));
  EXPECT_EQ(0, memcmp(sector, image_->Volume.data(), sizeof sector));
}

// Only the driver's own devices are refused: a file whose folders merely carry the device names
// is an image file like any other.
TEST_F(MountTest, ImageFileInFoldersNamedLikeTheDevicesMounts) {
  const std::string folders[] = {image_->Folder + "\\Device", image_->Folder + "\\Device\\Vaultdisk",
                                 image_->Folder + "\\Device\\Vaultdisk\\Vaultdisk0"};
  for (const std::string& folder : folders) CreateDirectoryA(folder.c_str(), nullptr);
  const std::string copy = folders[2] + "\\first.qvimg";
  ASSERT_TRUE(CopyFileA(image_->Files.front().c_str(), copy.c_str(), FALSE));
  EXPECT_EQ(drive_.Mount(WithFirstPath(image_->Record, "\\??\\" + copy)), DWORD(ERROR_SUCCESS));
  uint8_t sector[512];
  EXPECT_EQ(drive_.ReadAt(0, sector, sizeof sector), DWORD(ERROR_SUCCESS));
  EXPECT_EQ(0, memcmp(sector, image_->Volume.data(), sizeof sector));
  EXPECT_EQ(drive_.Unmount(), DWORD(ERROR_SUCCESS));
  DeleteFileA(copy.c_str());
  for (auto folder = std::rbegin(folders); folder != std::rend(folders); ++folder) RemoveDirectoryA(folder->c_str());
}

// A block whose stored bytes run past the end of a cut file is not served short: every 4 KiB
// read gives the partition's bytes or fails.
TEST(DamagedImage, BlocksBeyondACutFileFail) {
  constexpr ImageShape kShape = {"cut-split", 6, 0, BlockMethod::Method1, 0, 3 * 32768, 0, 32768};
  const TestImage image = MakeTestImage(kShape);
  ASSERT_EQ(image.Error, "");
  ASSERT_GE(image.Files.size(), 3u);
  std::filesystem::resize_file(image.Files[1], std::filesystem::file_size(image.Files[1]) / 2 + 1000);

  VirtualDrive drive(0);
  ASSERT_EQ(drive.Mount(image.Record), DWORD(ERROR_SUCCESS));
  const uint64_t size = image.Volume.size();
  unsigned failed = 0;
  std::vector<uint8_t> buffer(4096);
  for (uint64_t offset = 0; offset < size; offset += 4096) {
    const DWORD length = DWORD(std::min<uint64_t>(4096, size - offset));
    if (drive.ReadAt(offset, buffer.data(), length) != ERROR_SUCCESS) {
      ++failed;
      continue;
    }
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + length, image.Volume.begin() + offset)) << offset;
  }
  EXPECT_GT(failed, 0u);
  EXPECT_EQ(drive.Unmount(), DWORD(ERROR_SUCCESS));
  RemoveTestImage(image);
}

TEST(DeviceSet, NumberOfDevicesFromTheParameters) {
  for (unsigned number = 0; number < kTestDeviceCount; ++number) {
    VirtualDrive drive(number);
    EXPECT_EQ(drive.OpenIdle(), DWORD(ERROR_SUCCESS)) << "device " << number;
  }
  VirtualDrive beyond(kTestDeviceCount);
  EXPECT_NE(beyond.OpenIdle(), DWORD(ERROR_SUCCESS));
}

// A value of another type than REG_DWORD is not read as one: the driver keeps its defaults (the
// kernel would write a string descriptor or a longer value over a 4-byte variable).
TEST(DeviceSet, ParametersOfAnotherTypeKeepTheDefaults) {
  const wchar_t kText[] = L"2";
  const auto* text = reinterpret_cast<const uint8_t*>(kText);
  const RegistryValue cases[] = {
      {REG_SZ, {text, text + sizeof kText}},
      {REG_QWORD, {2, 0, 0, 0, 0, 0, 0, 0}},
      {REG_BINARY, {2, 0}},
  };
  for (const RegistryValue& value : cases) {
    SCOPED_TRACE(testing::Message() << "type " << value.Type << ", " << value.Bytes.size() << " bytes");
    DriverParameters parameters;
    parameters.NumberOfDevices = value;
    ASSERT_EQ(RestartDriver(parameters), "");
    VirtualDrive last(kDefaultDeviceCount - 1);
    EXPECT_EQ(last.OpenIdle(), DWORD(ERROR_SUCCESS));
    VirtualDrive beyond(kDefaultDeviceCount);
    EXPECT_NE(beyond.OpenIdle(), DWORD(ERROR_SUCCESS));
  }
  // ImpersonateCaller of another type keeps impersonation on, which Wine cannot do: the driver
  // loads, and nothing is mounted.
  DriverParameters parameters;
  parameters.ImpersonateCaller = cases[0];
  EXPECT_EQ(RestartDriver(parameters), "");
  EXPECT_EQ(QueryDevice(0), DWORD(ERROR_NOT_READY));
  ASSERT_EQ(RestartDriver({}), "");
}

}  // namespace
