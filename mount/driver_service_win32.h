// The driver the program mounts through: an installed copy or one written out of the program's
// own resources, and the kernel service that runs it. Nothing here is fatal: a driver that does
// not run shows up as a failed mount.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// Where the driver file is found, in this order, before it is written out of the resources.
std::string InstalledDriverPath();  // the system folder's "drivers\vaultdisk.sys"
inline constexpr char kRescueMediaDriverPath[] = "X:\\programs\\Varnoth\\vaultdisk.sys";
std::string ExtractedDriverPath();  // "vaultdisk.sys" next to the program

// Resources of type "DATA" that carry the driver builds.
inline constexpr WORD kDriverResourceX64 = 133;
inline constexpr WORD kDriverResourceX86 = 132;
// The build this Windows runs: x64 for a 64-bit process or a 32-bit one under WOW64.
WORD DriverResourceId();

inline constexpr char kServiceName[] = "Vaultdisk";
inline constexpr char kServiceDisplayName[] = "Varnoth Quillon Image Explorer Service";
inline constexpr char kServiceDescription[] =
    "Varnoth Quillon Image Explorer Service. Allows images and backups to be accessed by Windows Explorer";

// A driver file this run wrote, kept out of other users' reach until the kernel has loaded it:
// only SYSTEM and Administrators may write it, and while the object holds it open nobody can
// delete, rename or replace it.
class ExtractedDriverFile {
 public:
  // Writes bytes to path as a new file (a file already there is removed first, so that nothing
  // of its owner's rights survives). Valid() tells whether it worked.
  ExtractedDriverFile(const std::string& path, const void* bytes, uint32_t size);
  ~ExtractedDriverFile() { Release(); }
  ExtractedDriverFile(const ExtractedDriverFile&) = delete;
  ExtractedDriverFile& operator=(const ExtractedDriverFile&) = delete;
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Lets go of the file once the service has started.
  void Release();

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// Creates the kernel service if it does not exist, points an existing one at driverPath when an
// earlier run registered another file, and starts it, waiting a bounded time while it reports
// that it is starting. Every failure ends it quietly (a running service makes the start fail).
void InstallDriverService(const char* serviceName, const char* displayName, const std::string& driverPath,
                          const char* description);

// What the driver step of start-up found or wrote.
struct DriverFile {
  std::string Path;
  bool Written = false;  // this run wrote it: it is deleted at exit
};
// Installed copy, else rescue-media copy, else the resource written next to the program; then
// the service, unless the file could not be written. Under WOW64 the caller switches
// file-system redirection off around it.
DriverFile PrepareDriver();
// At exit: deletes the driver file if this run wrote it; the service stays registered.
void RemoveWrittenDriver(const DriverFile& driver);
