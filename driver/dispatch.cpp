#include "dispatch.h"

#include "device_extension.h"
#include "request_queue.h"

NTSTATUS NTAPI DispatchCreateClose(PDEVICE_OBJECT, PIRP irp) {
  return CompleteRequest(irp, STATUS_SUCCESS, FILE_OPENED);
}

NTSTATUS NTAPI DispatchReadWrite(PDEVICE_OBJECT device, PIRP irp) {
  DeviceExtension* extension = ExtensionOf(device);
  if (!ReadPublishedState(extension).MediaPresent)
    return CompleteRequest(irp, STATUS_NO_MEDIA_IN_DEVICE, 0);
  // Read and write requests keep their length at the same place.
  if (IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length == 0)
    return CompleteRequest(irp, STATUS_SUCCESS, 0);
  return QueueRequest(extension, irp);
}
