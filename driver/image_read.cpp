#include "image_read.h"

#include "mounted_image.h"

namespace {

NTSTATUS StatusOf(ReadStatus result) {
  switch (result) {
    case kReadOk:
      return STATUS_SUCCESS;
    case kReadDataError:
      return STATUS_DEVICE_DATA_ERROR;
    default:
      return STATUS_INVALID_PARAMETER;
  }
}

}  // namespace

NTSTATUS ReadImage(DeviceExtension* extension, PIRP irp) {
  // An unmount queued ahead of this read has already taken the image away.
  if (!extension->Image) return STATUS_NO_MEDIA_IN_DEVICE;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const LONGLONG offset = stack->Parameters.Read.ByteOffset.QuadPart;
  const ULONG length = stack->Parameters.Read.Length;
  if (offset < 0 || !irp->MdlAddress) return STATUS_INVALID_PARAMETER;

  auto* buffer = static_cast<uint8_t*>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
  if (!buffer) return STATUS_INSUFFICIENT_RESOURCES;

  NTSTATUS status = StatusOf(ReadVirtualDisk(&extension->Image->Reader, ULONGLONG(offset), length, buffer, nullptr));
  if (NT_SUCCESS(status)) irp->IoStatus.Information = length;
  return status;
}
