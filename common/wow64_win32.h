// A 32-bit build on 64-bit Windows: whether it runs so, and the file-system redirection that
// would otherwise show it the 32-bit system folder.
#pragma once

// False when the system does not know WOW64.
bool IsWow64();
// Switches redirection off for the thread and keeps what the system needs to switch it back.
void DisableFsRedirection();
void RevertFsRedirection();
