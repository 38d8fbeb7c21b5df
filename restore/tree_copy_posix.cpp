#include "tree_copy_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <optional>
#include <unordered_set>
#include <utility>

#include "entry_metadata_posix.h"
#include "file_data_pipeline_posix.h"
#include "file_data_writer_posix.h"
#include "ntfs_metadata_posix.h"
#include "tree_walk_posix.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

// What a file carries besides its data, read on the reading thread.
struct SourceExtras {
  NtfsFields Fields;
  SourceStreams Streams;
};

// What happens to each listed entry, decided before any data is read so that the reader
// thread knows the files to read ahead.
struct Planned {
  size_t Entry = 0;
  std::optional<size_t> ReadAs;      // index in the reader's list
  std::optional<size_t> HardLinkOf;  // entry already copied with the same file
};

class TreeCopy {
 public:
  TreeCopy(std::string source, std::string destination, const TreeCopyOptions& options, TreeCopyObserver& observer)
      : source_(std::move(source)), destination_(std::move(destination)), options_(options), observer_(observer) {}

  TreeCopyResult Run() {
    listing_ = ListTree(source_, options_, [this] { return observer_.Cancelled(); });
    if (listing_.Cancelled) return Cancel();
    if (!listing_.RootListed)
      Problem("", FailureText("listing the folder", listing_.Entries[0].Error ? listing_.Entries[0].Error : ENOTDIR));
    const std::vector<Planned> plan = Plan();
    extras_.resize(readPaths_.size());
    FileDataPipeline data(readPaths_, [this](size_t file) {
      if (options_.NtfsMetadata) extras_[file].Fields = ReadNtfsFields(readPaths_[file]);
      extras_[file].Streams = ReadStreams(readPaths_[file]);
    });
    for (const Planned& planned : plan) {
      if (result_.Cancelled || observer_.Cancelled()) {
        data.Stop();
        return Cancel();
      }
      CopyEntry(planned, data);
    }
    data.Stop();
    if (result_.Cancelled) return result_;
    FinishFolders();
    Report(true);
    return result_;
  }

 private:
  std::vector<Planned> Plan() {
    std::vector<Planned> plan;
    std::map<std::pair<dev_t, ino_t>, size_t> firstOfFile;
    for (size_t at = 1; at < listing_.Entries.size(); ++at) {
      const TreeEntry& entry = listing_.Entries[at];
      Planned planned{at, std::nullopt, std::nullopt};
      if (!entry.Error && S_ISREG(entry.Status.st_mode)) {
        ++progress_.TotalFiles;
        const auto key = std::make_pair(entry.Status.st_dev, entry.Status.st_ino);
        const auto first = entry.Status.st_nlink > 1 ? firstOfFile.find(key) : firstOfFile.end();
        if (first != firstOfFile.end()) {
          planned.HardLinkOf = first->second;
        } else {
          if (entry.Status.st_nlink > 1) firstOfFile.emplace(key, at);
          planned.ReadAs = readPaths_.size();
          readPaths_.push_back(JoinPath(source_, entry.Relative));
          progress_.TotalBytes += uint64_t(entry.Status.st_size);
        }
      }
      plan.push_back(planned);
    }
    return plan;
  }

  void CopyEntry(const Planned& planned, FileDataPipeline& data) {
    const TreeEntry& entry = listing_.Entries[planned.Entry];
    const bool folder = S_ISDIR(entry.Status.st_mode);
    // Below a folder that could not be made nothing can be written; its Problem says why.
    if (unmade_.count(ParentOf(entry.Relative))) {
      if (folder) unmade_.insert(entry.Relative);
      if (planned.ReadAs) data.SkipRestOf(*planned.ReadAs);
      return;
    }
    if (entry.Error && !folder) return Problem(entry.Relative, FailureText("reading", entry.Error));
    if (folder) return MakeFolder(entry);
    if (S_ISLNK(entry.Status.st_mode)) return;  // the reparse step's
    if (planned.HardLinkOf) return LinkFile(entry, listing_.Entries[*planned.HardLinkOf]);
    if (planned.ReadAs) return CopyFile(entry, *planned.ReadAs, data);
    Problem(entry.Relative, "not a file or folder: not copied");
  }

  void MakeFolder(const TreeEntry& entry) {
    const std::string target = JoinPath(destination_, entry.Relative);
    if (mkdir(target.c_str(), 0700) != 0) {
      const int error = errno;
      struct stat existing {};
      // A folder already there (the destination's own, or an earlier run's) is used as it is.
      if (error != EEXIST || lstat(target.c_str(), &existing) != 0 || !S_ISDIR(existing.st_mode)) {
        unmade_.insert(entry.Relative);
        return Problem(entry.Relative, FailureText("creating the folder", error));
      }
    }
    if (entry.Error) Problem(entry.Relative, FailureText("listing the folder", entry.Error));
    if (options_.NtfsMetadata)
      if (const int error = CompressContentsLikeSource(JoinPath(source_, entry.Relative), target))
        Problem(entry.Relative, FailureText("compression", error));
    observer_.Copied(entry.Relative);
  }

  void LinkFile(const TreeEntry& entry, const TreeEntry& first) {
    const std::string target = JoinPath(destination_, entry.Relative);
    unlink(target.c_str());
    if (link(JoinPath(destination_, first.Relative).c_str(), target.c_str()) != 0)
      return Problem(entry.Relative, FailureText("making the hard link", errno));
    ++result_.Files;
    ++progress_.Files;
    observer_.Copied(entry.Relative);
    Report(false);
  }

  void CopyFile(const TreeEntry& entry, size_t readAs, FileDataPipeline& data) {
    const std::string to = JoinPath(destination_, entry.Relative);
    DataPiece piece = data.Next();
    // Read along with the first piece.
    const SourceExtras extras = std::move(extras_[readAs]);
    const bool sparse = options_.NtfsMetadata
                            ? WindowsAttributesOf(extras.Fields) & kFileAttributeSparse
                            : uint64_t(entry.Status.st_blocks) * 512 < uint64_t(entry.Status.st_size);
    FileDataWriter writer(to, sparse, entry.Status.st_size);
    if (writer.Error()) {
      data.Release(piece);
      if (!piece.End) data.SkipRestOf(readAs);
      return Problem(entry.Relative, FailureText("creating", writer.Error()));
    }
    for (;; piece = data.Next()) {
      std::optional<std::string> failure;
      if (observer_.Cancelled()) result_.Cancelled = true;
      else if (piece.Error) failure = FailureText("reading", piece.Error);
      else if (const int error = writer.Write(piece.Data, piece.Length, piece.Offset))
        failure = FailureText("writing", error);
      data.Release(piece);
      if (result_.Cancelled || failure) {
        if (!piece.End) data.SkipRestOf(readAs);
        writer.Abandon();
        if (failure) Problem(entry.Relative, *failure);
        return;
      }
      result_.Bytes += piece.Length;
      progress_.Bytes += piece.Length;
      Report(false);
      if (piece.End) break;
    }
    if (const int error = writer.Finish()) {
      writer.Abandon();
      return Problem(entry.Relative, FailureText("writing", error));
    }
    WriteMetadata(to, entry, extras);
    ++result_.Files;
    ++progress_.Files;
    observer_.Copied(entry.Relative);
  }

  void WriteMetadata(const std::string& to, const TreeEntry& entry, const SourceExtras& extras) {
    for (const std::string& failure : WriteStreams(to, extras.Streams)) Problem(entry.Relative, failure);
    const std::vector<std::string> failures =
        options_.NtfsMetadata ? WriteNtfsFields(to, extras.Fields) : CopyModeAndTimes(to, entry.Status);
    for (const std::string& failure : failures) Problem(entry.Relative, failure);
  }

  // Contents come after their folder in the listing: backwards, every folder's times are set
  // once nothing more is written into it.
  void FinishFolders() {
    for (size_t at = listing_.Entries.size(); at-- > 0;) {
      const TreeEntry& entry = listing_.Entries[at];
      if (!S_ISDIR(entry.Status.st_mode) || unmade_.count(entry.Relative)) continue;
      const std::string from = JoinPath(source_, entry.Relative);
      WriteMetadata(JoinPath(destination_, entry.Relative), entry,
                    {options_.NtfsMetadata ? ReadNtfsFields(from) : NtfsFields{}, ReadStreams(from)});
    }
  }

  void Problem(const std::string& relative, const std::string& what) {
    ++result_.Problems;
    observer_.Problem(ShownPath(relative), what);
  }

  void Report(bool always) {
    const Clock::time_point now = Clock::now();
    if (!always && now - lastReport_ < kProgressInterval) return;
    lastReport_ = now;
    observer_.Progress(progress_);
  }

  TreeCopyResult Cancel() {
    result_.Cancelled = true;
    return result_;
  }

  const std::string source_, destination_;
  const TreeCopyOptions& options_;
  TreeCopyObserver& observer_;
  TreeListing listing_;
  std::vector<std::string> readPaths_;
  std::vector<SourceExtras> extras_;  // by reading index
  std::unordered_set<std::string> unmade_;
  TreeCopyProgress progress_;
  TreeCopyResult result_;
  Clock::time_point lastReport_{};
};

}  // namespace

TreeCopyResult CopyTree(const std::string& sourceRoot, const std::string& destinationRoot,
                        const TreeCopyOptions& options, TreeCopyObserver& observer) {
  return TreeCopy(sourceRoot, destinationRoot, options, observer).Run();
}
