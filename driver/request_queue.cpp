#include "request_queue.h"

NTSTATUS QueueRequest(DeviceExtension* extension, PIRP irp) {
  IoMarkIrpPending(irp);
  KIRQL irql;
  KeAcquireSpinLock(&extension->RequestLock, &irql);
  InsertTailList(&extension->RequestList, &irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&extension->RequestLock, irql);
  KeSetEvent(&extension->RequestEvent, IO_NO_INCREMENT, FALSE);
  return STATUS_PENDING;
}

PIRP DequeueRequest(DeviceExtension* extension) {
  KIRQL irql;
  KeAcquireSpinLock(&extension->RequestLock, &irql);
  PLIST_ENTRY entry =
      IsListEmpty(&extension->RequestList) ? nullptr : RemoveHeadList(&extension->RequestList);
  KeReleaseSpinLock(&extension->RequestLock, irql);
  return entry ? CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry) : nullptr;
}
