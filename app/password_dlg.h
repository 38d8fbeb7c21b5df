// Asks for the password of a protected image and accepts only the one whose digest it stores.
#pragma once
#include "dialog_base.h"
#include "image_file.h"
#include "resource_ids.h"

class CPasswordDlg : public CDialog {
 public:
  CPasswordDlg(HWND parent, const Digest& expected) : CDialog(IDD_PASSWORD, parent), expected_(expected) {}
  // The accepted entry after DoModal returned IDOK.
  const std::string& Password() const { return password_; }

 protected:
  void OnCommand(int id, int notification) override;

 private:
  const Digest& expected_;
  std::string password_;
};
