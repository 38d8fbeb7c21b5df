// Which boot repairs a bootable restore makes: edits a copy of the main dialog's choices and
// hands them back only on OK.
#pragma once
#include "dialog_base.h"
#include "restore_choices.h"

class CBootSettings : public CDialog {
 public:
  CBootSettings(HWND parent, const BootChoices& choices);
  const BootChoices& Choices() const { return choices_; }

 protected:
  BOOL OnInitDialog() override;
  void OnCommand(int id, int notification) override;

 private:
  BootChoices choices_;
};
