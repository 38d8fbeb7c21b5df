// tree_copy_tool [--ntfs] [--list-only] SOURCE DESTINATION: the Linux copy and its junction
// step from the command line, for benchmarks and checks by hand. Problems go to stderr; the
// last line gives the counts and the seconds each part took. Exit 1 when anything had a problem.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "reparse_points_posix.h"
#include "tree_copy_posix.h"
#include "tree_walk_posix.h"

namespace {

class PrintingObserver : public TreeCopyObserver {
 public:
  void Copied(const std::string&) override {}
  void Problem(const std::string& path, const std::string& what) override {
    fprintf(stderr, "%s: %s\n", path.c_str(), what.c_str());
    ++problems;
  }
  void Progress(const TreeCopyProgress&) override {}
  bool Cancelled() override { return false; }
  size_t problems = 0;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  TreeCopyOptions options;
  bool listOnly = false;
  int at = 1;
  for (; at < argc && strncmp(argv[at], "--", 2) == 0; ++at) {
    if (strcmp(argv[at], "--ntfs") == 0) options.NtfsMetadata = true;
    else if (strcmp(argv[at], "--list-only") == 0) listOnly = true;
    else return fprintf(stderr, "unknown option %s\n", argv[at]), 2;
  }
  if (argc - at != 2) return fprintf(stderr, "usage: tree_copy_tool [--ntfs] [--list-only] SOURCE DESTINATION\n"), 2;
  const std::string source = argv[at], destination = argv[at + 1];
  PrintingObserver observer;
  const auto start = std::chrono::steady_clock::now();
  if (listOnly) {
    const TreeListing listing = ListTree(source, options, [] { return false; });
    printf("entries=%zu list=%.3f\n", listing.Entries.size(), SecondsSince(start));
    return listing.RootListed ? 0 : 1;
  }
  const TreeCopyResult result = CopyTree(source, destination, options, observer);
  const double copied = SecondsSince(start);
  const int listed = RecreateReparsePoints(source, destination, options, observer);
  printf("files=%llu bytes=%llu problems=%zu copy=%.3f reparse=%.3f\n", static_cast<unsigned long long>(result.Files),
         static_cast<unsigned long long>(result.Bytes), observer.problems, copied, SecondsSince(start) - copied);
  return observer.problems || !listed ? 1 : 0;
}
