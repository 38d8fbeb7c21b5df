// What `harvesta restore` does with the copier's news: every copied path and every problem in
// the --log file, problems on stderr as they happen, the progress on the status line, and the
// figures for the end of the run.
#pragma once
#include <chrono>
#include <fstream>
#include <optional>
#include <string>

#include "restore_terminal.h"
#include "tree_copy_posix.h"

class RestoreCopyLog : public TreeCopyObserver {
 public:
  // logPath "" writes no log. Throws CommandError when the log cannot be created.
  RestoreCopyLog(const std::string& logPath, StatusLine& line);

  void Copied(const std::string& path) override;
  void Problem(const std::string& path, const std::string& what) override;
  void Progress(const TreeCopyProgress& progress) override;
  bool Cancelled() override;

  void Note(const std::string& text);  // a line of the log only
  uint64_t Problems() const { return problems_; }
  const std::string& FirstProblem() const { return firstProblem_; }
  double Seconds() const;  // since the copier's first news: the copy's own time

 private:
  std::ofstream log_;
  StatusLine& line_;
  uint64_t problems_ = 0;
  std::string firstProblem_;
  void Started();

  std::optional<std::chrono::steady_clock::time_point> start_;
};
