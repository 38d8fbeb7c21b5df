#include "boot_settings.h"

#include "resource_ids.h"

CBootSettings::CBootSettings(HWND parent, const BootChoices& choices)
    : CDialog(IDD_BOOT_SETTINGS, parent), choices_(choices) {}

BOOL CBootSettings::OnInitDialog() {
  SetChecked(IDC_MARK_ACTIVE, choices_.MarkActive);
  SetChecked(IDC_REPLACE_DISK_ID, choices_.ReplaceDiskId);
  SetChecked(IDC_REPLACE_BOOT_SECTOR, choices_.ReplaceBootSector);
  SetChecked(IDC_UPDATE_BOOT_CONFIGURATION, choices_.UpdateBootConfiguration);
  return TRUE;
}

void CBootSettings::OnCommand(int id, int notification) {
  if (id == IDOK) {
    choices_.MarkActive = Checked(IDC_MARK_ACTIVE);
    choices_.ReplaceDiskId = Checked(IDC_REPLACE_DISK_ID);
    choices_.ReplaceBootSector = Checked(IDC_REPLACE_BOOT_SECTOR);
    choices_.UpdateBootConfiguration = Checked(IDC_UPDATE_BOOT_CONFIGURATION);
  }
  CDialog::OnCommand(id, notification);
}
