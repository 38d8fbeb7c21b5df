// The subsystems a restore drives, one small interface each: the mounted drive, the volumes and
// drives of the machine, the copy command, the junction walk and the boot updates. The program
// implements them over Win32 (*_win32.cpp), `harvesta restore` over Linux, the tests with
// recording fakes. Results follow the system's integer conventions; nothing here throws.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "boot_records.h"
#include "mount_request.h"
#include "mounted_drive.h"  // MountFailure

class RestoreUserInterface;

// Virtual drives: one partition of an image behind a drive letter.
class MountedDrives {
 public:
  virtual ~MountedDrives() = default;
  // True when the DOS device name of the letter ("E:") has a mapping of any kind.
  virtual bool LetterInUse(char letter) = 0;
  // Device numbers no virtual drive uses, ascending; empty when all are in use.
  virtual std::vector<unsigned> FreeDeviceNumbers() = 0;
  // Mounts the partition the values describe (their key field already holds the password) as a
  // disk on letter, through device deviceNumber. 0 on success; -1 on failure, with failure
  // filled in and the letter as it was before.
  virtual int Mount(const MountValues& values, unsigned deviceNumber, char letter,
                    MountFailure& failure) = 0;
  // Undoes a mount: the device is unmounted and the letter removed. 0 on success, -1 on failure.
  virtual int Unmount(char letter) = 0;
};

// LockAndDismountVolume results.
inline constexpr int kVolumeDismounted = 0;
inline constexpr int kVolumeNotOpened = 1;
inline constexpr int kVolumeInUse = 2;  // the lock was refused and force was not set
inline constexpr int kVolumeDismountFailed = 3;
inline constexpr int kVolumeEmptyPath = 4;

// The machine's volumes, for the destination checks and its formatting.
class RestoreVolumes {
 public:
  virtual ~RestoreVolumes() = default;
  // Total clusters x sectors per cluster x bytes per sector of the volume at root ("E:\"), in
  // 64-bit arithmetic; 0 when the system does not answer.
  virtual uint64_t VolumeSize(const std::string& root) = 0;
  // Which volume holds path (a file or a drive root): a text that is equal for two paths exactly
  // when they lie on the same volume. nullopt when the path names no volume the system knows.
  virtual std::optional<std::string> VolumeOfPath(const std::string& path) = 0;
  // devicePath is "\\.\E:". Returns one of the kVolume results above.
  virtual int LockAndDismountVolume(const std::string& devicePath, bool force) = 0;
  // Quick format of driveName ("E:") with the file system ("NTFS", "FAT32"), the label and the
  // cluster size in bytes. 1 only when the formatter reported that it finished with success;
  // 0 otherwise (it has shown its own messages, if any).
  virtual int FormatVolume(const std::string& driveName, const std::string& label,
                           const std::string& fileSystem, uint32_t clusterSize) = 0;
};

// What the copy command is run with.
struct CopyCommand {
  std::string Template;     // "<SRC>" and "<DST>" still in it
  bool HideOutput = false;
  std::string Destination;  // replaces "<DST>"
  char VirtualLetter = 0;   // its root replaces "<SRC>"
};
inline constexpr int kCopyNotStarted = -1;
struct CopyCommandResult {
  // kCopyNotStarted when the command could not be started; 0 after a cancel; otherwise the
  // command's exit code, which is not interpreted.
  int Result = 0;
  bool Ran = false;        // the command was started
  bool Cancelled = false;  // the user cancelled it
};

class CopyCommandRunner {
 public:
  virtual ~CopyCommandRunner() = default;
  // Runs the command to its end or until the user cancels it in the wait window it opens on ui.
  virtual CopyCommandResult RunCopy(const CopyCommand& command, RestoreUserInterface& ui) = 0;
};

class JunctionWalk {
 public:
  virtual ~JunctionWalk() = default;
  // Re-creates on the destination the junction points found below sourcePattern ("X:\*"): the
  // copy command skips them. Pumps the current wait window. 1 when the pattern's folder was
  // handled, 0 when it could not be listed.
  virtual int FixJunctionPoints(const std::string& sourcePattern, char destinationLetter) = 0;
};

// UpdatePartitionBootSector error codes.
enum class BootSectorError : uint32_t {
  None = 0,
  SourceNotNtfs = 1,
  DestinationNotNtfs = 2,
  SourceNotOpened = 3,
  SourceNotRead = 4,
  DestinationNotOpened = 5,
  DestinationNotRead = 6,
  DestinationNotRewound = 7,
  DestinationNotWritten = 8,
};

// The boot repairs, on raw sectors and files of the destination; the byte edits are those of
// boot_records.h. None of them shows a message.
class BootUpdates {
 public:
  virtual ~BootUpdates() = default;
  // The source's boot code around the destination's own parameter block (MergeBootArea).
  // 1 on success; 0 with error set.
  virtual int UpdatePartitionBootSector(char sourceLetter, char destinationLetter,
                                        BootSectorError& error) = 0;
  // Finds the destination's disk and partition offset, reads the disk's master boot record,
  // edits it (EditDiskRecord) and writes it when the edit says so. Reports what it found.
  virtual DestinationDisk UpdateDiskRecord(char destinationLetter, uint32_t imageSignature,
                                           DiskRecordChoices choices) = 0;
  // Rewrites the references of "\Boot\BCD" on the destination (RewriteBootConfiguration). 1 when
  // the file was read, whether or not anything matched; 0 when it could not be opened or read.
  virtual int UpdateBootConfiguration(char destinationLetter,
                                      const BootConfigurationRewrite& rewrite) = 0;
  // Sets the flag of "\windows\bootstat.dat" on the destination (SetBootStatusFlag).
  virtual void MarkBootStatus(char destinationLetter) = 0;
};

// Everything a restore drives, handed in by the front end.
struct RestoreSteps {
  RestoreUserInterface& Ui;
  MountedDrives& Drives;
  RestoreVolumes& Volumes;
  CopyCommandRunner& Copy;
  JunctionWalk& Junctions;
  BootUpdates& Boot;
};
