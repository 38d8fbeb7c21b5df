// Load and unload: the Parameters key, the device directory, the devices, the dispatch table.
#include "client_security.h"
#include "device.h"
#include "dispatch.h"
#include "kernel.h"
#include "mount_record.h"

namespace {

constexpr ULONG kDefaultDeviceCount = 10;

HANDLE g_directory;

struct Parameters {
  ULONG NumberOfDevices = kDefaultDeviceCount;
  ULONG ImpersonateCaller = 1;
};

// Only a 4-byte REG_DWORD may land in a ULONG. A direct query writes whatever type the value
// has (a string descriptor for REG_SZ) and Wine ignores RTL_QUERY_REGISTRY_TYPECHECK, so the
// type is checked here, where every kernel calls us with the value's real type.
NTSTATUS NTAPI StoreDword(PWSTR, ULONG type, PVOID data, ULONG length, PVOID, PVOID entryContext) {
  if (type == REG_DWORD && length == sizeof(ULONG)) RtlCopyMemory(entryContext, data, sizeof(ULONG));
  return STATUS_SUCCESS;
}

// Reads one REG_DWORD of the key; the value keeps its default when absent, unreadable or of
// another type.
void QueryDword(PCWSTR key, PCWSTR name, ULONG* value) {
  RTL_QUERY_REGISTRY_TABLE table[2] = {};
  table[0].QueryRoutine = StoreDword;
  table[0].Flags = RTL_QUERY_REGISTRY_REQUIRED;
  table[0].Name = const_cast<PWSTR>(name);
  table[0].EntryContext = value;
  RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, key, table, nullptr, nullptr);
}

NTSTATUS ReadParameters(PUNICODE_STRING registryPath, Parameters* parameters) {
  static const WCHAR kSuffix[] = L"\\Parameters";
  const ULONG bytes = ULONG(registryPath->Length) + sizeof kSuffix;
  if (bytes > UNICODE_STRING_MAX_BYTES) return STATUS_INVALID_PARAMETER;
  auto* buffer = static_cast<PWCHAR>(AllocatePool(bytes));  // zeroed: the path ends in NUL
  if (!buffer) return STATUS_INSUFFICIENT_RESOURCES;
  UNICODE_STRING key = {0, USHORT(bytes), buffer};
  RtlCopyUnicodeString(&key, registryPath);
  RtlAppendUnicodeToString(&key, kSuffix);
  QueryDword(buffer, L"NumberOfDevices", &parameters->NumberOfDevices);
  QueryDword(buffer, L"ImpersonateCaller", &parameters->ImpersonateCaller);
  FreePool(buffer);
  return STATUS_SUCCESS;
}

NTSTATUS CreateDirectory() {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"" VAULTDISK_DEVICE_DIRECTORY);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_OPENIF | OBJ_PERMANENT | OBJ_KERNEL_HANDLE,
                             nullptr, nullptr);
  NTSTATUS status = ZwCreateDirectoryObject(&g_directory, DIRECTORY_ALL_ACCESS, &attributes);
  if (!NT_SUCCESS(status)) return status;
  // Temporary: it goes away once the driver closes its handle at unload.
  ZwMakeTemporaryObject(g_directory);
  return STATUS_SUCCESS;
}

VOID NTAPI DriverUnload(PDRIVER_OBJECT driver) {
  PDEVICE_OBJECT device = driver->DeviceObject;
  while (device) {
    PDEVICE_OBJECT next = device->NextDevice;
    DeleteDevice(device);
    device = next;
  }
  ZwClose(g_directory);
}

struct DispatchEntry {
  UCHAR Major;
  PDRIVER_DISPATCH Routine;
};

const DispatchEntry kDispatchTable[] = {
    {IRP_MJ_CREATE, DispatchCreateClose},
    {IRP_MJ_CLOSE, DispatchCreateClose},
    {IRP_MJ_READ, DispatchReadWrite},
    {IRP_MJ_WRITE, DispatchReadWrite},
    {IRP_MJ_DEVICE_CONTROL, DispatchDeviceControl},
};

}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  Parameters parameters;
  NTSTATUS status = ReadParameters(registryPath, &parameters);
  if (!NT_SUCCESS(status)) return status;
  g_impersonateCaller = parameters.ImpersonateCaller != 0;

  status = CreateDirectory();
  if (!NT_SUCCESS(status)) return status;

  ULONG created = 0;
  for (ULONG number = 0; number < parameters.NumberOfDevices; ++number) {
    status = CreateDevice(driver, number);
    if (NT_SUCCESS(status)) ++created;
  }
  if (created == 0) {
    ZwClose(g_directory);
    return status;
  }
  for (const DispatchEntry& entry : kDispatchTable) driver->MajorFunction[entry.Major] = entry.Routine;
  driver->DriverUnload = DriverUnload;
  return STATUS_SUCCESS;
}
