#include "client_security.h"
#include "device_extension.h"
#include "dispatch.h"
#include "mount_record.h"
#include "request_queue.h"

namespace {

// The fixed geometry the disk reports: 2 tracks of 32 sectors per cylinder.
constexpr ULONG kTracksPerCylinder = 2;
constexpr ULONG kSectorsPerTrack = 32;
constexpr ULONG kTocSize = 804;

struct ControlRequest {
  PIRP Irp;
  ULONG InputLength;
  ULONG OutputLength;
  void* Buffer;  // METHOD_BUFFERED: input on entry, output on return
};

NTSTATUS Done(const ControlRequest& request, NTSTATUS status, ULONG_PTR information = 0) {
  return CompleteRequest(request.Irp, status, NT_SUCCESS(status) ? information : 0);
}

// Zeroes and returns the output buffer when it holds size bytes, else nullptr.
template <typename T>
T* Output(const ControlRequest& request, ULONG size = sizeof(T)) {
  if (request.OutputLength < size) return nullptr;
  RtlZeroMemory(request.Buffer, size);
  return static_cast<T*>(request.Buffer);
}

NTSTATUS Geometry(const ControlRequest& request, const VirtualDiskLayout& layout) {
  auto* geometry = Output<DISK_GEOMETRY>(request);
  if (!geometry) return Done(request, STATUS_BUFFER_TOO_SMALL);
  geometry->Cylinders.QuadPart =
      LONGLONG(layout.DiskLength / layout.SectorSize / kSectorsPerTrack / kTracksPerCylinder);
  geometry->MediaType = FixedMedia;
  geometry->TracksPerCylinder = kTracksPerCylinder;
  geometry->SectorsPerTrack = kSectorsPerTrack;
  geometry->BytesPerSector = layout.SectorSize;
  return Done(request, STATUS_SUCCESS, sizeof(DISK_GEOMETRY));
}

NTSTATUS ReadToc(const ControlRequest& request) {
  auto* toc = Output<CDROM_TOC>(request, kTocSize);
  if (!toc) return Done(request, STATUS_BUFFER_TOO_SMALL);
  toc->FirstTrack = 1;
  toc->LastTrack = 1;
  toc->TrackData[0].Control = 4;  // a data track
  return Done(request, STATUS_SUCCESS, kTocSize);
}

NTSTATUS Verify(const ControlRequest& request) {
  if (request.InputLength < sizeof(VERIFY_INFORMATION)) return Done(request, STATUS_INVALID_PARAMETER);
  // Information is copied back into an output buffer of that size: report the verified length
  // only when there is no output buffer to overrun.
  const ULONG length = static_cast<VERIFY_INFORMATION*>(request.Buffer)->Length;
  return Done(request, STATUS_SUCCESS, request.OutputLength == 0 ? length : 0);
}

NTSTATUS PartitionInfoEx(const ControlRequest& request, const VirtualDiskLayout& layout) {
  auto* info = Output<PARTITION_INFORMATION_EX>(request);
  if (!info) return Done(request, STATUS_BUFFER_TOO_SMALL);
  info->PartitionStyle = PARTITION_STYLE_MBR;
  info->PartitionLength.QuadPart = LONGLONG(layout.DiskLength);
  info->Mbr.HiddenSectors = 1;
  return Done(request, STATUS_SUCCESS, sizeof(PARTITION_INFORMATION_EX));
}

NTSTATUS PartitionInfo(const ControlRequest& request, const VirtualDiskLayout& layout) {
  auto* info = Output<PARTITION_INFORMATION>(request);
  if (!info) return Done(request, STATUS_BUFFER_TOO_SMALL);
  info->PartitionLength.QuadPart = LONGLONG(layout.DiskLength);
  info->HiddenSectors = 1;
  return Done(request, STATUS_SUCCESS, sizeof(PARTITION_INFORMATION));
}

NTSTATUS LengthInfo(const ControlRequest& request, const VirtualDiskLayout& layout) {
  auto* info = Output<GET_LENGTH_INFORMATION>(request);
  if (!info) return Done(request, STATUS_BUFFER_TOO_SMALL);
  info->Length.QuadPart = LONGLONG(layout.DiskLength);
  return Done(request, STATUS_SUCCESS, sizeof(GET_LENGTH_INFORMATION));
}

NTSTATUS SetPartitionInfo(const ControlRequest& request, BOOLEAN readOnly) {
  if (readOnly) return Done(request, STATUS_MEDIA_WRITE_PROTECTED);
  if (request.InputLength < 1) return Done(request, STATUS_INVALID_PARAMETER);
  return Done(request, STATUS_SUCCESS);
}

NTSTATUS Query(const ControlRequest& request, const VirtualDiskLayout& layout) {
  auto* reply = Output<uint8_t>(request, kMountQueryReplySize);
  if (!reply) return Done(request, STATUS_BUFFER_TOO_SMALL);
  FillMountQueryReply(&layout, reply);
  return Done(request, STATUS_SUCCESS, kMountQueryReplySize);
}

NTSTATUS Mount(const ControlRequest& request, DeviceExtension* extension, BOOLEAN mediaPresent) {
  if (mediaPresent) return Done(request, STATUS_INVALID_DEVICE_REQUEST);
  if (request.InputLength < kMountQueryReplySize) return Done(request, STATUS_INVALID_PARAMETER);
  NTSTATUS status = CaptureClient(request.Irp);
  if (!NT_SUCCESS(status)) return Done(request, status);
  return QueueRequest(extension, request.Irp);
}

}  // namespace

NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  DeviceExtension* extension = ExtensionOf(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ControlRequest request = {irp, stack->Parameters.DeviceIoControl.InputBufferLength,
                                  stack->Parameters.DeviceIoControl.OutputBufferLength,
                                  irp->AssociatedIrp.SystemBuffer};
  const PublishedState state = ReadPublishedState(extension);
  if (!state.MediaPresent && code != IOCTL_IMAGE_MOUNT) return Done(request, STATUS_NO_MEDIA_IN_DEVICE);

  switch (code) {
    case IOCTL_DISK_GET_DRIVE_GEOMETRY:
    case IOCTL_CDROM_GET_DRIVE_GEOMETRY:
      return Geometry(request, state.Layout);
    case IOCTL_CDROM_READ_TOC:
      return ReadToc(request);
    case IOCTL_DISK_VERIFY:
      return Verify(request);
    case IOCTL_DISK_IS_WRITABLE:
      return Done(request, state.ReadOnly ? STATUS_MEDIA_WRITE_PROTECTED : STATUS_SUCCESS);
    case IOCTL_DISK_GET_PARTITION_INFO_EX:
      return PartitionInfoEx(request, state.Layout);
    case IOCTL_DISK_GET_PARTITION_INFO:
      return PartitionInfo(request, state.Layout);
    case IOCTL_DISK_GET_LENGTH_INFO:
      return LengthInfo(request, state.Layout);
    case IOCTL_DISK_CHECK_VERIFY:
    case IOCTL_CDROM_CHECK_VERIFY:
    case IOCTL_STORAGE_CHECK_VERIFY:
    case IOCTL_STORAGE_CHECK_VERIFY2:
    case IOCTL_DISK_MEDIA_REMOVAL:
    case IOCTL_STORAGE_MEDIA_REMOVAL:
      return Done(request, STATUS_SUCCESS);
    case IOCTL_DISK_SET_PARTITION_INFO:
      return SetPartitionInfo(request, state.ReadOnly);
    case IOCTL_IMAGE_QUERY:
      return Query(request, state.Layout);
    case IOCTL_IMAGE_MOUNT:
      return Mount(request, extension, state.MediaPresent);
    case IOCTL_IMAGE_UNMOUNT:
      return QueueRequest(extension, irp);
    default:
      return Done(request, STATUS_INVALID_DEVICE_REQUEST);
  }
}
