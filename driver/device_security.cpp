#include "device_security.h"

namespace {

// S-1-5-18 and S-1-5-32-544, built in place: SeExports is not available everywhere.
struct WellKnownSid {
  SID Sid;
  ULONG MoreSubAuthorities[1];
};

void InitSid(WellKnownSid* sid, ULONG first, ULONG second, UCHAR count) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  RtlInitializeSid(&sid->Sid, &nt, count);
  *RtlSubAuthoritySid(&sid->Sid, 0) = first;
  if (count > 1) *RtlSubAuthoritySid(&sid->Sid, 1) = second;
}

}  // namespace

NTSTATUS RestrictToAdministrators(PDEVICE_OBJECT device) {
  WellKnownSid system, administrators;
  InitSid(&system, SECURITY_LOCAL_SYSTEM_RID, 0, 1);
  InitSid(&administrators, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 2);

  const ULONG aclSize = sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(ULONG)) +
                        RtlLengthSid(&system.Sid) + RtlLengthSid(&administrators.Sid);
  auto* acl = static_cast<PACL>(AllocatePool(aclSize));
  if (!acl) return STATUS_INSUFFICIENT_RESOURCES;

  SECURITY_DESCRIPTOR descriptor;
  NTSTATUS status = RtlCreateAcl(acl, aclSize, ACL_REVISION);
  if (NT_SUCCESS(status)) status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, &system.Sid);
  if (NT_SUCCESS(status))
    status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, &administrators.Sid);
  if (NT_SUCCESS(status)) status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  if (NT_SUCCESS(status)) status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE);

  HANDLE handle = nullptr;
  if (NT_SUCCESS(status))
    status = ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, nullptr, WRITE_DAC, nullptr,
                                   KernelMode, &handle);
  if (NT_SUCCESS(status)) {
    status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor);
    ZwClose(handle);
  }
  FreePool(acl);
  return status;
}
