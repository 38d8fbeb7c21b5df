// The identity a mount runs under. Each mount request carries its own captured context (in the
// IRP's DriverContext) from the caller's thread to the worker, so a second request cannot
// replace the context while the worker still uses it.
#pragma once
#include "kernel.h"

// Whether mounts open image files as the caller ("ImpersonateCaller", 1 when absent). Wine's
// kernel has no client security, so the tests run with 0: files open as the driver.
extern bool g_impersonateCaller;

// Captures the calling thread's security context into the request; a no-op when not
// impersonating.
NTSTATUS CaptureClient(PIRP irp);

// Worker side: runs as the captured caller until StopImpersonating. Fails when the context
// cannot be applied, so that nothing is opened under the driver's own identity by mistake.
NTSTATUS ImpersonateClient(PIRP irp);
void StopImpersonating(PIRP irp);

// Frees the captured context (the token reference included); a no-op when there is none.
void ReleaseClient(PIRP irp);
