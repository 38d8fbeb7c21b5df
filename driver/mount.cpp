#include "mount.h"

#include "client_security.h"
#include "device.h"
#include "device_extension.h"
#include "mount_record.h"
#include "mounted_image.h"

namespace {

// Whether the opened object is named in the device directory, or has no name to read. Windows
// and Wine both resolve drive letters and other links before naming an object, so "\??\Q:" and
// "\\.\Q:" count too.
bool IsNamedInDeviceDirectory(HANDLE handle) {
  UNICODE_STRING prefix;
  RtlInitUnicodeString(&prefix, L"" VAULTDISK_DEVICE_DIRECTORY "\\");
  // Room for the longest name there is: no second query with a longer buffer.
  const ULONG size = sizeof(OBJECT_NAME_INFORMATION) + UNICODE_STRING_MAX_BYTES + sizeof(WCHAR);
  auto* info = static_cast<OBJECT_NAME_INFORMATION*>(AllocatePool(size));
  if (!info) return true;
  ULONG returned;
  const bool named = NT_SUCCESS(ZwQueryObject(handle, ObjectNameInformation, info, size, &returned));
  const bool inside = !named || RtlPrefixUnicodeString(&prefix, &info->Name, TRUE);
  FreePool(info);
  return inside;
}

// An image file on one of this driver's disks, named directly or through a file system mounted
// on one, would have a worker read through its own queue (or two workers wait on each other):
// the device and the unload would hang. What cannot be checked is refused as well.
// The name comes first, for Wine: there, opening a device of this same winedevice process
// returns before the create request reaches the driver. A file object looked up before that is
// built without its DeviceObject, so the check below would miss it, and if it is built while
// the create request is dispatched it hides the real one: the close request then reaches the
// driver with no device, and winedevice dies.
bool IsOnOwnDevice(HANDLE handle, PDRIVER_OBJECT driver) {
  if (IsNamedInDeviceDirectory(handle)) return true;
  PVOID object;
  // mingw declares IoFileObjectType one pointer level too deep, as it does PsThreadType.
  if (!NT_SUCCESS(ObReferenceObjectByHandle(handle, 0, (POBJECT_TYPE)IoFileObjectType, KernelMode,
                                            &object, nullptr)))
    return true;
  PDEVICE_OBJECT device = static_cast<PFILE_OBJECT>(object)->DeviceObject;
  const bool own = device && device->DriverObject == driver;
  ObDereferenceObject(object);
  return own;
}

NTSTATUS OpenImageFile(const MountFileEntry& entry, PDRIVER_OBJECT driver, HANDLE* handle,
                       ULONG* alignment) {
  ANSI_STRING ansiPath;
  ansiPath.Buffer = const_cast<PCHAR>(entry.Path);
  ansiPath.Length = USHORT(entry.PathLength);  // the record's list length is 16-bit
  ansiPath.MaximumLength = ansiPath.Length;
  UNICODE_STRING path;
  NTSTATUS status = RtlAnsiStringToUnicodeString(&path, &ansiPath, TRUE);
  if (!NT_SUCCESS(status)) return status;

  // Kernel-mode opens skip access checks unless forced: as the caller, check the caller's rights.
  ULONG attributes = OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE;
  if (g_impersonateCaller) attributes |= OBJ_FORCE_ACCESS_CHECK;
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &path, attributes, nullptr, nullptr);
  IO_STATUS_BLOCK io;
  status = ZwCreateFile(handle, GENERIC_READ | SYNCHRONIZE, &object, &io, nullptr,
                        FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ, FILE_OPEN,
                        FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE | FILE_RANDOM_ACCESS,
                        nullptr, 0);
  RtlFreeUnicodeString(&path);
  if (!NT_SUCCESS(status)) {
    *handle = nullptr;
    return status;
  }
  // The handle stays in its slot: a failed mount closes it with the others.
  if (IsOnOwnDevice(*handle, driver)) return STATUS_INVALID_PARAMETER;

  FILE_ALIGNMENT_INFORMATION alignmentInfo;
  status = ZwQueryInformationFile(*handle, &io, &alignmentInfo, sizeof alignmentInfo,
                                  FileAlignmentInformation);
  if (status == STATUS_NOT_IMPLEMENTED) {  // Wine: keep the default
    alignmentInfo.AlignmentRequirement = FILE_BYTE_ALIGNMENT;
    status = STATUS_SUCCESS;
  }
  *alignment = alignmentInfo.AlignmentRequirement;
  return status;
}

NTSTATUS OpenImageFiles(const ParsedMountRecord& record, PDRIVER_OBJECT driver, MountedImage* image,
                        ULONG* alignment) {
  MountFileCursor cursor = FirstMountFile(&record);
  MountFileEntry entry;
  while (NextMountFile(&cursor, &entry)) {
    // The parser refused a slot named twice: each handle is opened once.
    NTSTATUS status = OpenImageFile(entry, driver, &image->FileHandles[entry.Slot], alignment);
    if (!NT_SUCCESS(status)) return status;
  }
  return STATUS_SUCCESS;
}

NTSTATUS MountImage(PDEVICE_OBJECT device, PIRP irp) {
  DeviceExtension* extension = ExtensionOf(device);
  // The dispatch checked too, but another mount may have been queued ahead of this one.
  if (extension->Image) return STATUS_INVALID_DEVICE_REQUEST;

  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  auto* record = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
  ParsedMountRecord parsed;
  const bool valid =
      ParseMountRecord(record, stack->Parameters.DeviceIoControl.InputBufferLength, &parsed);
  // The key is copied out now; it must not linger in the freed request buffer.
  if (record && stack->Parameters.DeviceIoControl.InputBufferLength >= kMountRecordHeaderSize)
    RtlSecureZeroMemory(record + __builtin_offsetof(MountRecord, KeyField), sizeof MountRecord::KeyField);
  MountedImage* image = nullptr;
  NTSTATUS status = valid ? CreateMountedImage(&parsed.Layout, parsed.Key, &image) : STATUS_INVALID_PARAMETER;
  // Whatever happened, the reader's expanded schedule is the only form of the key left.
  RtlSecureZeroMemory(parsed.Key, sizeof parsed.Key);
  if (!NT_SUCCESS(status)) return status;

  ULONG alignment = FILE_BYTE_ALIGNMENT;
  status = OpenImageFiles(parsed, device->DriverObject, image, &alignment);
  if (!NT_SUCCESS(status)) {
    DestroyMountedImage(image);
    return status;
  }
  extension->Image = image;
  device->AlignmentRequirement = alignment;
  device->Characteristics |= FILE_READ_ONLY_DEVICE;
  Publish(extension, TRUE, &parsed.Layout);
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS MountImageRequest(PDEVICE_OBJECT device, PIRP irp) {
  NTSTATUS status = ImpersonateClient(irp);
  if (NT_SUCCESS(status)) {
    status = MountImage(device, irp);
    StopImpersonating(irp);
  }
  ReleaseClient(irp);
  return status;
}

NTSTATUS UnmountImage(PDEVICE_OBJECT device) {
  DeviceExtension* extension = ExtensionOf(device);
  Publish(extension, FALSE, nullptr);
  if (extension->Image) {
    DestroyMountedImage(extension->Image);
    extension->Image = nullptr;
  }
  return STATUS_SUCCESS;
}
