#include "device.h"

#include "device_extension.h"
#include "device_security.h"
#include "mount.h"
#include "mount_record.h"
#include "worker.h"

namespace {

void StopWorker(DeviceExtension* extension) {
  extension->StopWorker = TRUE;
  KeSetEvent(&extension->RequestEvent, IO_NO_INCREMENT, FALSE);
}

}  // namespace

NTSTATUS CreateDevice(PDRIVER_OBJECT driver, ULONG number) {
  WCHAR nameBuffer[64];
  NTSTATUS status = RtlStringCchPrintfW(nameBuffer, ARRAYSIZE(nameBuffer),
                                        L"" VAULTDISK_DEVICE_NAME_FORMAT, number);
  if (!NT_SUCCESS(status)) return status;
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, nameBuffer);

  // FILE_DEVICE_SECURE_OPEN: opens of names below the device are checked against its
  // security too, not only opens of the device itself.
  PDEVICE_OBJECT device;
  status = IoCreateDevice(driver, sizeof(DeviceExtension), &name, FILE_DEVICE_DISK,
                          FILE_DEVICE_SECURE_OPEN, FALSE, &device);
  if (!NT_SUCCESS(status)) return status;
  device->Flags |= DO_DIRECT_IO;

  DeviceExtension* extension = ExtensionOf(device);
  extension->MediaPresent = FALSE;
  InitializeListHead(&extension->RequestList);
  KeInitializeSpinLock(&extension->RequestLock);
  KeInitializeEvent(&extension->RequestEvent, SynchronizationEvent, FALSE);
  extension->StopWorker = FALSE;

  status = RestrictToAdministrators(device);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }

  HANDLE thread;
  status = PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                WorkerRoutine, device);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(device);
    return status;
  }
  // mingw declares PsThreadType one pointer level too deep: the expression is already the
  // exported POBJECT_TYPE.
  status = ObReferenceObjectByHandle(thread, THREAD_ALL_ACCESS, (POBJECT_TYPE)PsThreadType,
                                     KernelMode, &extension->WorkerThread, nullptr);
  if (!NT_SUCCESS(status)) {
    // The handle still identifies the thread: wait for it to end before the extension goes.
    StopWorker(extension);
    ZwWaitForSingleObject(thread, FALSE, nullptr);
    ZwClose(thread);
    IoDeleteDevice(device);
    return status;
  }
  ZwClose(thread);
  return STATUS_SUCCESS;
}

void DeleteDevice(PDEVICE_OBJECT device) {
  DeviceExtension* extension = ExtensionOf(device);
  StopWorker(extension);
  KeWaitForSingleObject(extension->WorkerThread, Executive, KernelMode, FALSE, nullptr);
  ObDereferenceObject(extension->WorkerThread);
  // The worker has ended: its image files can be closed from here.
  UnmountImage(device);
  IoDeleteDevice(device);
}
