#include "junction_walk_posix.h"

#include <sys/stat.h>

#include "reparse_points_posix.h"
#include "restore_ui.h"

namespace {

// The walk pumps the wait window of its step, which also carries Ctrl-C.
class PumpingObserver : public TreeCopyObserver {
 public:
  explicit PumpingObserver(TreeCopyObserver& inner) : inner_(inner) {}
  void Copied(const std::string& path) override { inner_.Copied(path); }
  void Problem(const std::string& path, const std::string& what) override {
    inner_.Problem(path, what);
  }
  void Progress(const TreeCopyProgress& progress) override {
    inner_.Progress(progress);
    if (WaitWindow* wait = CurrentWaitWindow()) wait->Pump();
  }
  bool Cancelled() override {
    const WaitWindow* wait = CurrentWaitWindow();
    return (wait && wait->Cancelled()) || inner_.Cancelled();
  }

 private:
  TreeCopyObserver& inner_;
};

bool IsFolder(const std::string& path) {
  struct stat info{};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

int PosixJunctionWalk::FixJunctionPoints(const std::string& sourcePattern,
                                         char destinationLetter) {
  const std::string source = sourcePattern.empty() ? std::string{} : folders_(sourcePattern[0]);
  const std::string destination = folders_(destinationLetter);
  if (!IsFolder(source) || !IsFolder(destination)) return 0;
  PumpingObserver observer(observer_);
  return RecreateReparsePoints(source, destination, TreeCopyOptionsFor(source, destination),
                               observer);
}
