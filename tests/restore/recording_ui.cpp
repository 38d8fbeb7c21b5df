#include "recording_ui.h"

namespace {

class RecordingWaitWindow : public WaitWindow {
 public:
  explicit RecordingWaitWindow(WaitRecord& record) : record_(record) { record_.Open = true; }
  ~RecordingWaitWindow() override { record_.Open = false; }
  void SetTitle(const std::string& title) override { record_.Titles.push_back(title); }
  void ShowSteps() override {}
  void ShowMarquee() override { record_.Marquee = true; }
  void Pump() override { ++record_.Pumps; }
  bool Cancelled() const override {
    return record_.CancelAfterPumps >= 0 && record_.Pumps >= record_.CancelAfterPumps;
  }
  void EnableCancel() override { ++record_.CancelEnabled; }

 private:
  WaitRecord& record_;
};

}  // namespace

std::unique_ptr<WaitWindow> RecordingUi::OpenWaitWindow(WaitKind kind) {
  WaitKinds.push_back(kind);
  return std::make_unique<RecordingWaitWindow>(Wait);
}
