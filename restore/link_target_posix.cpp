#include "link_target_posix.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

std::vector<std::string> Steps(const std::string& path) {
  std::vector<std::string> steps;
  size_t at = 0;
  while (at <= path.size()) {
    const size_t slash = std::min(path.find('/', at), path.size());
    if (slash > at) steps.push_back(path.substr(at, slash - at));
    at = slash + 1;
  }
  return steps;
}

// The steps of the folder holding path.
std::vector<std::string> FolderSteps(const std::string& path) {
  std::vector<std::string> steps = Steps(path);
  if (!steps.empty()) steps.pop_back();
  return steps;
}

std::string Joined(const std::vector<std::string>& steps, size_t from = 0) {
  std::string path;
  for (size_t at = from; at < steps.size(); ++at) path += (path.empty() ? "" : "/") + steps[at];
  return path;
}

// Lexically, below the root: nullopt when a ".." climbs above it.
std::optional<std::string> Normalised(const std::vector<std::string>& steps) {
  std::vector<std::string> kept;
  for (const std::string& step : steps) {
    if (step == ".") continue;
    if (step != "..") {
      kept.push_back(step);
      continue;
    }
    if (kept.empty()) return std::nullopt;
    kept.pop_back();
  }
  return Joined(kept);
}

std::optional<std::vector<std::string>> BelowRoot(const std::string& target, const std::string& root) {
  std::vector<std::string> spellings{root};
  if (const std::unique_ptr<char, decltype(&free)> real(realpath(root.c_str(), nullptr), &free); real)
    spellings.push_back(real.get());
  const std::vector<std::string> targetSteps = Steps(target);
  for (const std::string& spelling : spellings) {
    const std::vector<std::string> rootSteps = Steps(spelling);
    if (rootSteps.size() <= targetSteps.size() &&
        std::equal(rootSteps.begin(), rootSteps.end(), targetSteps.begin()))
      return std::vector<std::string>(targetSteps.begin() + long(rootSteps.size()), targetSteps.end());
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> TargetInsideVolume(const std::string& target, const std::string& linkRelative,
                                              const std::string& root) {
  if (target.empty()) return std::nullopt;
  std::vector<std::string> steps;
  if (target[0] == '/') {
    std::optional<std::vector<std::string>> below = BelowRoot(target, root);
    if (!below) return std::nullopt;
    steps = std::move(*below);
  } else {
    steps = FolderSteps(linkRelative);
    for (std::string& step : Steps(target)) steps.push_back(std::move(step));
  }
  std::optional<std::string> inside = Normalised(steps);
  // ntfs-3g's stand-in for targets on other volumes.
  if (inside && (*inside == ".NTFS-3G" || inside->rfind(".NTFS-3G/", 0) == 0)) return std::nullopt;
  return inside;
}

std::string RelativeLinkText(const std::string& linkRelative, const std::string& insideTarget) {
  const std::vector<std::string> from = FolderSteps(linkRelative);
  const std::vector<std::string> to = Steps(insideTarget);
  size_t common = 0;
  while (common < from.size() && common < to.size() && from[common] == to[common]) ++common;
  std::string text;
  for (size_t at = common; at < from.size(); ++at) text += "../";
  text += Joined(to, common);
  if (text.empty()) return ".";
  if (text.back() == '/') text.pop_back();
  return text;
}
