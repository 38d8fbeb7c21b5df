// The control codes of the disk devices and their failures, idle and mounted.
#include <windows.h>
#include <winioctl.h>
#include <ntddcdrm.h>

#include <gtest/gtest.h>

#include <cstring>

#include "mount_record.h"
#include "test_images.h"
#include "virtual_drive.h"

namespace {

constexpr ImageShape kShape = {"controls", 6, 1, BlockMethod::Method1, 0, 0, 0, 65536};
constexpr uint64_t kOneGiB = 1ull << 30;

class ControlTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { image_ = new TestImage(MakeTestImage(kShape)); }
  static void TearDownTestSuite() {
    RemoveTestImage(*image_);
    delete image_;
  }
  void SetUp() override {
    ASSERT_EQ(image_->Error, "");
  }

  // The record with a disk length the geometry can be checked against.
  static std::vector<uint8_t> RecordWithDisk(uint64_t diskLength, uint8_t sectorUnits) {
    std::vector<uint8_t> record = image_->Record;
    memcpy(record.data() + offsetof(MountRecord, DiskLength), &diskLength, 8);
    record[offsetof(MountRecord, SectorSizeUnits)] = sectorUnits;
    return record;
  }

  static TestImage* image_;
  VirtualDrive drive_{2};
};

TestImage* ControlTest::image_;

TEST_F(ControlTest, IdleDeviceHasNoMedia) {
  ASSERT_EQ(drive_.OpenIdle(), DWORD(ERROR_SUCCESS));
  uint8_t buffer[1024] = {};
  const DWORD codes[] = {IOCTL_IMAGE_QUERY, IOCTL_DISK_GET_DRIVE_GEOMETRY, IOCTL_DISK_GET_LENGTH_INFO,
                         IOCTL_DISK_IS_WRITABLE, IOCTL_IMAGE_UNMOUNT, IOCTL_STORAGE_CHECK_VERIFY, 0x12345678};
  for (DWORD code : codes) {
    SCOPED_TRACE(testing::Message() << std::hex << code);
    EXPECT_EQ(drive_.Control(code, nullptr, 0, buffer, sizeof buffer), DWORD(ERROR_NOT_READY));
  }
  EXPECT_EQ(drive_.ReadAt(0, buffer, 512), DWORD(ERROR_NOT_READY));
  EXPECT_EQ(drive_.WriteAt(0, buffer, 512), DWORD(ERROR_NOT_READY));
}

TEST_F(ControlTest, MountRefusesARecordWithoutFiles) {
  std::vector<uint8_t> record(image_->Record.begin(), image_->Record.begin() + kMountRecordHeaderSize);
  EXPECT_EQ(drive_.Mount(record), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(QueryDevice(2), DWORD(ERROR_NOT_READY));
}

TEST_F(ControlTest, MountedDiskIsReadOnlyAndMountedOnce) {
  ASSERT_EQ(drive_.Mount(image_->Record), DWORD(ERROR_SUCCESS));
  // Straight to the device: the program's Win32MountedDrive would stop at the busy letter.
  EXPECT_EQ(drive_.Control(IOCTL_IMAGE_MOUNT, image_->Record.data(), DWORD(image_->Record.size()), nullptr, 0),
            DWORD(ERROR_INVALID_FUNCTION));
  EXPECT_EQ(drive_.Control(IOCTL_DISK_IS_WRITABLE, nullptr, 0, nullptr, 0), DWORD(ERROR_WRITE_PROTECT));
  uint8_t sector[512] = {};
  EXPECT_EQ(drive_.WriteAt(0, sector, sizeof sector), DWORD(ERROR_INVALID_PARAMETER));
  // The data did not change.
  ASSERT_EQ(drive_.ReadAt(0, sector, sizeof sector), DWORD(ERROR_SUCCESS));
  EXPECT_EQ(0, memcmp(sector, image_->Volume.data(), sizeof sector));
}

struct GeometryCase {
  uint8_t SectorUnits;
  LONGLONG Cylinders;
  DWORD BytesPerSector;
};

TEST_F(ControlTest, GeometryOfAOneGiBDisk) {
  for (const GeometryCase& c : {GeometryCase{0, 32768, 512}, GeometryCase{1, 32768, 512}, GeometryCase{8, 4096, 4096}}) {
    SCOPED_TRACE(testing::Message() << "sector units " << int(c.SectorUnits));
    ASSERT_EQ(drive_.Mount(RecordWithDisk(kOneGiB, c.SectorUnits)), DWORD(ERROR_SUCCESS));
    for (DWORD code : {DWORD(IOCTL_DISK_GET_DRIVE_GEOMETRY), DWORD(IOCTL_CDROM_GET_DRIVE_GEOMETRY)}) {
      DISK_GEOMETRY geometry = {};
      DWORD returned = 0;
      ASSERT_EQ(drive_.Control(code, nullptr, 0, &geometry, sizeof geometry, &returned), DWORD(ERROR_SUCCESS));
      EXPECT_EQ(returned, sizeof geometry);
      EXPECT_EQ(geometry.Cylinders.QuadPart, c.Cylinders);
      EXPECT_EQ(geometry.MediaType, FixedMedia);
      EXPECT_EQ(geometry.TracksPerCylinder, 2u);
      EXPECT_EQ(geometry.SectorsPerTrack, 32u);
      EXPECT_EQ(geometry.BytesPerSector, c.BytesPerSector);
    }
    GET_LENGTH_INFORMATION length = {};
    ASSERT_EQ(drive_.Control(IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(uint64_t(length.Length.QuadPart), kOneGiB);
    PARTITION_INFORMATION_EX partitionEx = {};
    ASSERT_EQ(drive_.Control(IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &partitionEx, sizeof partitionEx),
              DWORD(ERROR_SUCCESS));
    EXPECT_EQ(partitionEx.PartitionStyle, PARTITION_STYLE_MBR);
    EXPECT_EQ(uint64_t(partitionEx.PartitionLength.QuadPart), kOneGiB);
    EXPECT_EQ(partitionEx.Mbr.HiddenSectors, 1u);
    PARTITION_INFORMATION partition = {};
    ASSERT_EQ(drive_.Control(IOCTL_DISK_GET_PARTITION_INFO, nullptr, 0, &partition, sizeof partition),
              DWORD(ERROR_SUCCESS));
    EXPECT_EQ(uint64_t(partition.PartitionLength.QuadPart), kOneGiB);
    EXPECT_EQ(partition.HiddenSectors, 1u);
    ASSERT_EQ(drive_.Unmount(), DWORD(ERROR_SUCCESS));
  }
}

struct ControlCase {
  const char* Name;
  DWORD Code;
  DWORD InputSize;
  DWORD OutputSize;
  DWORD Error;
  DWORD Returned;
};

// Each answered code at its smallest buffers: one byte short fails, the exact size works.
const ControlCase kControlCases[] = {
    {"geometry short", IOCTL_DISK_GET_DRIVE_GEOMETRY, 0, 23, ERROR_INSUFFICIENT_BUFFER, 0},
    {"geometry", IOCTL_DISK_GET_DRIVE_GEOMETRY, 0, 24, ERROR_SUCCESS, 24},
    {"cd geometry short", IOCTL_CDROM_GET_DRIVE_GEOMETRY, 0, 23, ERROR_INSUFFICIENT_BUFFER, 0},
    {"toc short", IOCTL_CDROM_READ_TOC, 0, 803, ERROR_INSUFFICIENT_BUFFER, 0},
    {"toc", IOCTL_CDROM_READ_TOC, 0, 804, ERROR_SUCCESS, 804},
    {"partition ex short", IOCTL_DISK_GET_PARTITION_INFO_EX, 0, 143, ERROR_INSUFFICIENT_BUFFER, 0},
    {"partition ex", IOCTL_DISK_GET_PARTITION_INFO_EX, 0, 144, ERROR_SUCCESS, 144},
    {"partition short", IOCTL_DISK_GET_PARTITION_INFO, 0, 31, ERROR_INSUFFICIENT_BUFFER, 0},
    {"partition", IOCTL_DISK_GET_PARTITION_INFO, 0, 32, ERROR_SUCCESS, 32},
    {"length short", IOCTL_DISK_GET_LENGTH_INFO, 0, 7, ERROR_INSUFFICIENT_BUFFER, 0},
    {"length", IOCTL_DISK_GET_LENGTH_INFO, 0, 8, ERROR_SUCCESS, 8},
    {"query short", IOCTL_IMAGE_QUERY, 0, 89, ERROR_INSUFFICIENT_BUFFER, 0},
    {"query", IOCTL_IMAGE_QUERY, 0, 90, ERROR_SUCCESS, 90},
    {"verify short", IOCTL_DISK_VERIFY, 15, 0, ERROR_INVALID_PARAMETER, 0},
    {"verify", IOCTL_DISK_VERIFY, 16, 0, ERROR_SUCCESS, 4096},
    {"verify with output", IOCTL_DISK_VERIFY, 16, 16, ERROR_SUCCESS, 0},
    {"disk check verify", IOCTL_DISK_CHECK_VERIFY, 0, 0, ERROR_SUCCESS, 0},
    {"cd check verify", IOCTL_CDROM_CHECK_VERIFY, 0, 0, ERROR_SUCCESS, 0},
    {"storage check verify", IOCTL_STORAGE_CHECK_VERIFY, 0, 0, ERROR_SUCCESS, 0},
    {"storage check verify 2", IOCTL_STORAGE_CHECK_VERIFY2, 0, 0, ERROR_SUCCESS, 0},
    {"disk media removal", IOCTL_DISK_MEDIA_REMOVAL, 0, 0, ERROR_SUCCESS, 0},
    {"storage media removal", IOCTL_STORAGE_MEDIA_REMOVAL, 0, 0, ERROR_SUCCESS, 0},
    {"set partition", IOCTL_DISK_SET_PARTITION_INFO, 1, 0, ERROR_WRITE_PROTECT, 0},
    {"unknown", CTL_CODE(FILE_DEVICE_DISK, 0x7FF, METHOD_BUFFERED, FILE_ANY_ACCESS), 0, 0, ERROR_INVALID_FUNCTION, 0},
};

TEST_F(ControlTest, AnsweredCodesCheckTheirBuffers) {
  ASSERT_EQ(drive_.Mount(image_->Record), DWORD(ERROR_SUCCESS));
  for (const ControlCase& c : kControlCases) {
    SCOPED_TRACE(c.Name);
    std::vector<uint8_t> input(c.InputSize + 1, 0), output(c.OutputSize + 1, 0);
    if (c.InputSize >= sizeof(VERIFY_INFORMATION)) reinterpret_cast<VERIFY_INFORMATION*>(input.data())->Length = 4096;
    DWORD returned = 12345;
    EXPECT_EQ(drive_.Control(c.Code, input.data(), c.InputSize, output.data(), c.OutputSize, &returned), c.Error);
    if (c.Error == ERROR_SUCCESS) {
      EXPECT_EQ(returned, c.Returned);
    }
    if (c.Code == IOCTL_CDROM_READ_TOC && c.Error == ERROR_SUCCESS) {
      const auto* toc = reinterpret_cast<const CDROM_TOC*>(output.data());
      EXPECT_EQ(toc->FirstTrack, 1);
      EXPECT_EQ(toc->LastTrack, 1);
      EXPECT_EQ(output[5] & 0x0F, 4);
    }
  }
}

}  // namespace
