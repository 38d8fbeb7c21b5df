#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <fmt/format.h>

namespace {

std::string Mebibytes(uint64_t bytes) { return fmt::format("{:.1f} MiB", double(bytes) / (1 << 20)); }

// Decimal megabytes a second, as dd and the ewf tools give them.
std::string Rate(uint64_t bytes, double seconds) {
  return fmt::format("{:.1f} MB/s", double(bytes) / 1e6 / seconds);
}

std::string Duration(double seconds) {
  const auto whole = static_cast<uint64_t>(std::llround(seconds));
  if (whole >= 3600) return fmt::format("{}:{:02}:{:02}", whole / 3600, whole / 60 % 60, whole % 60);
  return fmt::format("{}:{:02}", whole / 60, whole % 60);
}

}  // namespace

std::string TransferFigures(uint64_t done, uint64_t total, double seconds) {
  std::string text = Mebibytes(done);
  if (total) text += " of " + Mebibytes(total);
  if (seconds <= 0) return text;
  text += ", " + Rate(done, seconds);
  if (total && done && done <= total)
    text += ", " + Duration(seconds * double(total - done) / double(done)) + " left";
  return text;
}

std::string TransferSummary(uint64_t bytes, double seconds) {
  if (seconds <= 0) return Mebibytes(bytes);
  return fmt::format("{} in {:.1f} s, {}", Mebibytes(bytes), seconds, Rate(bytes, seconds));
}

ProgressBar::ProgressBar(std::string label, uint64_t total, bool quiet)
    : label_(std::move(label)),
      total_(total),
      quiet_(quiet),
      shown_(!quiet && isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() { Clear(); }

double ProgressBar::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

// Redrawn when the percentage moves and a few times a second between, so that the rate and
// the time left stay current without flooding a slow terminal.
void ProgressBar::Update(uint64_t done) {
  if (!shown_) return;
  const int percent = total_ ? int(std::min(done, total_) * 100 / total_) : 100;
  const auto now = std::chrono::steady_clock::now();
  if (percent == lastPercent_ && now - lastDrawn_ < std::chrono::milliseconds(250)) return;
  lastPercent_ = percent;
  lastDrawn_ = now;
  constexpr int kWidth = 30;
  std::string bar(size_t(percent * kWidth / 100), '#');
  bar.resize(kWidth, '.');
  std::string line = fmt::format("{} [{}] {:3}%  {}", label_, bar, percent,
                                 TransferFigures(done, total_, Seconds()));
  const size_t width = line.size();
  if (width < lastWidth_) line.append(lastWidth_ - width, ' ');  // no tail of a longer line
  lastWidth_ = width;
  std::fprintf(stderr, "\r%s", line.c_str());
  std::fflush(stderr);
}

void ProgressBar::Clear() {
  if (shown_ && lastPercent_ >= 0) std::fprintf(stderr, "\n");
  lastPercent_ = -1;
  lastWidth_ = 0;
}

void ProgressBar::Finish(uint64_t done) {
  if (shown_) {
    lastPercent_ = -1;  // the final figures, whenever the last redraw was
    Update(done);
  }
  Clear();
  if (!quiet_)
    std::fprintf(stderr, "%s: %s\n", label_.c_str(), TransferSummary(done, Seconds()).c_str());
  quiet_ = true;
  shown_ = false;
}
