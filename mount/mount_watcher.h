// A killed mount daemon must not leave its file system mounted over a FUSE disk that is gone
// (libfuse's auto_unmount removes only the FUSE layer). The watcher is a separate process in
// its own session, forked by the daemon before it mounts anything. It waits on a socket whose
// other end only the daemon holds: end of file means the daemon died without cleaning up, and
// the watcher unmounts the mount point (lazily when busy), detaches the loop device under it
// and removes the runtime folder.
#pragma once
#include <sys/types.h>

#include <string>

class MountWatcher {
 public:
  // Forks the watcher, which at once closes every descriptor but its socket and runtimeLock (a
  // RuntimeLock's descriptor, kept until it exits). Best called before the mount starts threads
  // or opens /dev/fuse: the child of a process with other threads runs only on what glibc keeps
  // usable after fork. Throws MountError.
  MountWatcher(const std::string& mountPoint, const std::string& runtime, int runtimeLock);
  // Without Dismiss(), losing this object (or the process) makes the watcher clean up.
  ~MountWatcher();
  MountWatcher(const MountWatcher&) = delete;
  MountWatcher& operator=(const MountWatcher&) = delete;

  // The file system now at the mount point is the daemon's: the watcher notes its loop device.
  void FileSystemMounted();
  // The daemon has cleaned up itself: the watcher exits without touching anything.
  void Dismiss();

 private:
  void Tell(char message);

  int socket_ = -1;
  pid_t pid_ = -1;
};
