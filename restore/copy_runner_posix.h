// The copy of a Linux restore: the built-in tree copier, or the user's command template run by
// /bin/sh, while the wait window shows how far it got and Ctrl-C (its Cancel) stops it.
#pragma once
#include <functional>
#include <string>

#include "restore_steps.h"
#include "restore_ui.h"
#include "tree_copy_posix.h"

// The folder a drive letter of the run stands for: the partition's mount point for the virtual
// letter, the mounted destination for the destination letter; "" when it has none.
using FolderOfLetter = std::function<std::string(char letter)>;

// Without a trailing slash a template such as "cp -a <SRC>. <DST>" would name the wrong folder.
std::string WithTrailingSlash(std::string folder);

// The copier's options for two mounted folders: NTFS metadata is kept when both are ntfs-3g
// mounts (they answer for system.ntfs_* attributes; nothing else has them).
TreeCopyOptions TreeCopyOptionsFor(const std::string& source, const std::string& destination);

// What the copy did, for the front end's report beyond the workflow's result.
struct PosixCopyOutcome {
  bool BuiltIn = false;
  TreeCopyResult Tree;      // the built-in copier's figures
  std::string CommandLine;  // the template's command as run
  int ExitCode = 0;         // its exit status; 128 + N when signal N ended it
};

class PosixCopyRunner : public CopyCommandRunner {
 public:
  // observer receives every copied path and problem of the built-in copier; its Cancelled() is
  // asked together with the wait window's.
  PosixCopyRunner(FolderOfLetter folders, TreeCopyObserver& observer)
      : folders_(std::move(folders)), observer_(observer) {}

  CopyCommandResult RunCopy(const CopyCommand& command, RestoreUserInterface& ui) override;
  const PosixCopyOutcome& Outcome() const { return outcome_; }

 private:
  CopyCommandResult RunBuiltIn(const std::string& source, const std::string& destination,
                               WaitWindow& wait);
  CopyCommandResult RunTemplate(const CopyCommand& command, const std::string& source,
                                const std::string& destination, WaitWindow& wait);

  FolderOfLetter folders_;
  TreeCopyObserver& observer_;
  PosixCopyOutcome outcome_;
};
