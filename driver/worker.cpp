#include "worker.h"

#include "device_extension.h"
#include "image_read.h"
#include "mount.h"
#include "mount_record.h"
#include "request_queue.h"

namespace {

NTSTATUS HandleDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
  switch (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_IMAGE_MOUNT:
      return MountImageRequest(device, irp);
    case IOCTL_IMAGE_UNMOUNT:
      return UnmountImage(device);
    default:
      return STATUS_DRIVER_INTERNAL_ERROR;
  }
}

void HandleRequest(PDEVICE_OBJECT device, PIRP irp) {
  irp->IoStatus.Information = 0;
  NTSTATUS status;
  switch (IoGetCurrentIrpStackLocation(irp)->MajorFunction) {
    case IRP_MJ_READ:
      status = ReadImage(ExtensionOf(device), irp);
      break;
    case IRP_MJ_WRITE:
      status = STATUS_INVALID_PARAMETER;
      break;
    case IRP_MJ_DEVICE_CONTROL:
      status = HandleDeviceControl(device, irp);
      break;
    default:
      status = STATUS_DRIVER_INTERNAL_ERROR;
      break;
  }
  if (!NT_SUCCESS(status)) irp->IoStatus.Information = 0;
  irp->IoStatus.Status = status;
  IoCompleteRequest(irp, NT_SUCCESS(status) ? IO_DISK_INCREMENT : IO_NO_INCREMENT);
}

}  // namespace

VOID NTAPI WorkerRoutine(PVOID context) {
  auto* device = static_cast<PDEVICE_OBJECT>(context);
  DeviceExtension* extension = ExtensionOf(device);
  KeSetPriorityThread(KeGetCurrentThread(), LOW_REALTIME_PRIORITY);
  for (;;) {
    KeWaitForSingleObject(&extension->RequestEvent, Executive, KernelMode, FALSE, nullptr);
    // One wake-up may stand for several requests: drain the queue, then look at the stop flag,
    // so that nothing queued is left behind.
    while (PIRP irp = DequeueRequest(extension)) HandleRequest(device, irp);
    if (extension->StopWorker) PsTerminateSystemThread(STATUS_SUCCESS);
  }
}
