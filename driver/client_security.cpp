#include "client_security.h"

bool g_impersonateCaller = true;

namespace {

PSECURITY_CLIENT_CONTEXT& ContextOf(PIRP irp) {
  return reinterpret_cast<PSECURITY_CLIENT_CONTEXT&>(irp->Tail.Overlay.DriverContext[0]);
}

}  // namespace

NTSTATUS CaptureClient(PIRP irp) {
  ContextOf(irp) = nullptr;
  if (!g_impersonateCaller) return STATUS_SUCCESS;
  auto* context = static_cast<PSECURITY_CLIENT_CONTEXT>(AllocatePool(sizeof(SECURITY_CLIENT_CONTEXT)));
  if (!context) return STATUS_INSUFFICIENT_RESOURCES;
  SECURITY_QUALITY_OF_SERVICE quality = {};
  quality.Length = sizeof quality;
  quality.ImpersonationLevel = SecurityImpersonation;
  quality.ContextTrackingMode = SECURITY_STATIC_TRACKING;
  quality.EffectiveOnly = FALSE;
  NTSTATUS status = SeCreateClientSecurity(PsGetCurrentThread(), &quality, FALSE, context);
  if (!NT_SUCCESS(status)) {
    FreePool(context);
    return status;
  }
  ContextOf(irp) = context;
  return STATUS_SUCCESS;
}

NTSTATUS ImpersonateClient(PIRP irp) {
  PSECURITY_CLIENT_CONTEXT context = ContextOf(irp);
  return context ? SeImpersonateClientEx(context, nullptr) : STATUS_SUCCESS;
}

void StopImpersonating(PIRP irp) {
  if (ContextOf(irp)) PsRevertToSelf();
}

void ReleaseClient(PIRP irp) {
  PSECURITY_CLIENT_CONTEXT context = ContextOf(irp);
  if (!context) return;
  // Primary and impersonation tokens alike are object references.
  if (context->ClientToken) ObDereferenceObject(context->ClientToken);
  FreePool(context);
  ContextOf(irp) = nullptr;
}
