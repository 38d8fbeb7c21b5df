#include "restore_copy_log.h"

#include <iostream>

#include "commands.h"
#include "progress.h"
#include "stop_signals.h"

RestoreCopyLog::RestoreCopyLog(const std::string& logPath, StatusLine& line) : line_(line) {
  if (logPath.empty()) return;
  log_.open(logPath, std::ios::out | std::ios::trunc);
  if (!log_) throw CommandError("cannot create the log file " + logPath, kExitUsage);
}

void RestoreCopyLog::Started() {
  if (!start_) start_ = std::chrono::steady_clock::now();
}

void RestoreCopyLog::Copied(const std::string& path) {
  Started();
  if (log_.is_open()) log_ << path << '\n';
}

void RestoreCopyLog::Problem(const std::string& path, const std::string& what) {
  Started();
  ++problems_;
  const std::string text = path + ": " + what;
  if (firstProblem_.empty()) firstProblem_ = text;
  if (log_.is_open()) log_ << "problem: " << text << std::endl;
  line_.Clear();
  std::cerr << text << '\n';
}

void RestoreCopyLog::Progress(const TreeCopyProgress& progress) {
  Started();
  std::string text = "Copying... " + std::to_string(progress.Files);
  if (progress.TotalFiles != 0) text += " of " + std::to_string(progress.TotalFiles);
  text += " files, " + TransferFigures(progress.Bytes, progress.TotalBytes, Seconds());
  line_.Show(text);
}

bool RestoreCopyLog::Cancelled() { return StopSignals::Raised(); }

void RestoreCopyLog::Note(const std::string& text) {
  if (log_.is_open()) log_ << text << std::endl;
}

double RestoreCopyLog::Seconds() const {
  if (!start_) return 0;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - *start_).count();
}
