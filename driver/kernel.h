// The kernel API as the driver sees it: mingw-w64's DDK headers plus the few helpers every
// file needs (pool memory with the driver's tag, request completion).
#pragma once

extern "C" {
#include <ntifs.h>
#include <ntdddisk.h>
#include <ntddcdrm.h>
#include <ntddstor.h>
#include <ntstrsafe.h>
}

// "Ddk " as it appears in pool dumps (bytes 44 64 6B 20).
constexpr ULONG kPoolTag = 0x206B6444;

// Paged pool, zeroed; nullptr when the system has none to give.
inline void* AllocatePool(SIZE_T bytes) {
  void* memory = ExAllocatePoolWithTag(PagedPool, bytes, kPoolTag);
  if (memory) RtlZeroMemory(memory, bytes);
  return memory;
}

inline void FreePool(void* memory) {
  if (memory) ExFreePoolWithTag(memory, kPoolTag);
}

inline NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information,
                                CCHAR boost = IO_NO_INCREMENT) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, boost);
  return status;
}
