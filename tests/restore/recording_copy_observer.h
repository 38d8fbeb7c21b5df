// A copy observer that keeps what it was told, and can call for a stop.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tree_copy_posix.h"

class RecordingCopyObserver : public TreeCopyObserver {
 public:
  void Copied(const std::string& relativePath) override { copied.push_back(relativePath); }
  void Problem(const std::string& relativePath, const std::string& what) override {
    problems[relativePath].push_back(what);
  }
  void Progress(const TreeCopyProgress& progress) override { reported.push_back(progress); }
  bool Cancelled() override { return cancelWhen && cancelWhen(); }

  std::vector<std::string> copied;
  std::map<std::string, std::vector<std::string>> problems;
  std::vector<TreeCopyProgress> reported;
  std::function<bool()> cancelWhen;
};
