#include "file_restore_dlg.h"

#include <commctrl.h>
#include <commdlg.h>

#include "about_dlg.h"
#include "boot_settings.h"
#include "command_template.h"
#include "completion_report.h"
#include "path_names.h"
#include "privileges_win32.h"
#include "program_paths_win32.h"
#include "resource_ids.h"
#include "restore_dialog_rules.h"
#include "robocopy_runner_win32.h"
#include "run_restore.h"
#include "settings_file.h"

namespace {
char SystemDriveLetter() {
  char folder[MAX_PATH] = {};
  return GetSystemDirectoryA(folder, sizeof folder) ? folder[0] : '\0';
}
}  // namespace

CFileRestoreDlg::CFileRestoreDlg()
    : CDialog(IDD_FILE_RESTORE, nullptr),
      ui_(nullptr),
      steps_(ui_, PathFolder(ModuleFilePath(kSettingsFileName))) {
  EnableBackupPrivileges();
  commandTemplate_ = ReadCommandTemplate(ModuleFilePath(kSettingsFileName));
  icon_ = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APPLICATION_ICON));
}

BOOL CFileRestoreDlg::OnInitDialog() {
  ui_.SetOwner(Handle());
  char aboutText[64] = {};
  HMENU systemMenu = GetSystemMenu(Handle(), FALSE);
  if (systemMenu && LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUT_MENU, aboutText, sizeof aboutText) > 0) {
    AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(systemMenu, MF_STRING, IDM_ABOUT, aboutText);
  }
  FillDestinations();
  SetItemText(IDC_IMAGE_PATH, imagePath_);
  SendMessageA(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
  imageList_.Attach(Item(IDC_IMAGE_LIST), ui_);
  imageList_.SetUpColumns();
  imageList_.SizeColumns();
  SetItemText(IDC_IMAGE_PATH, kBrowseHint);
  for (int box : {IDC_FORMAT, IDC_BOOTABLE, IDC_RUN_COPY, IDC_HIDE_OUTPUT}) SetChecked(box, false);
  FillList(Item(IDC_FILE_SYSTEM), kFileSystemEntries.data(), kFileSystemEntries.size(), kFileSystemNtfs);
  FillList(Item(IDC_CLUSTER_SIZE), kClusterSizeEntries.data(), kClusterSizeEntries.size(),
           kDefaultClusterIndex);
  if (commandTemplate_.empty()) commandTemplate_ = kDefaultCommandTemplate;
  SetItemText(IDC_COMMAND, commandTemplate_);
  ApplyEnablingRules();
  return TRUE;
}

void CFileRestoreDlg::FillList(HWND box, const char* const* entries, size_t count, int chosen) {
  // Inserted at fixed positions: the sorted style of the template does not reorder them.
  for (size_t position = 0; position < count; ++position)
    SendMessageA(box, CB_INSERTSTRING, position, reinterpret_cast<LPARAM>(entries[position]));
  SendMessageA(box, CB_SETCURSEL, static_cast<WPARAM>(chosen), 0);
}

void CFileRestoreDlg::FillDestinations() {
  const std::vector<std::string> roots = DestinationRoots(SystemDriveLetter(), [](char letter) {
    const char root[] = {letter, ':', '\\', '\0'};
    return GetFileAttributesA(root) != INVALID_FILE_ATTRIBUTES;
  });
  HWND box = Item(IDC_DESTINATION);
  for (size_t position = 0; position < roots.size(); ++position)
    SendMessageA(box, CB_INSERTSTRING, position, reinterpret_cast<LPARAM>(roots[position].c_str()));
  if (!roots.empty()) SendMessageA(box, CB_SETCURSEL, 0, 0);
}

void CFileRestoreDlg::ApplyEnablingRules() {
  const ControlEnabling enabling =
      EnablingFor(Checked(IDC_FORMAT), Checked(IDC_BOOTABLE), Checked(IDC_RUN_COPY));
  EnableItem(IDOK, enabling.Start);
  EnableItem(IDC_ADVANCED, enabling.Advanced);
  for (int id : {IDC_COMMAND, IDC_HIDE_OUTPUT, IDC_DEFAULT_COMMAND}) EnableItem(id, enabling.CopyControls);
  for (int id : {IDC_FILE_SYSTEM, IDC_CLUSTER_SIZE}) EnableItem(id, enabling.FormatControls);
}

void CFileRestoreDlg::OnCommand(int id, int notification) {
  if (running_) return;
  ApplyEnablingRules();
  switch (id) {
    case IDC_BROWSE:
      if (notification == BN_CLICKED) Browse();
      break;
    case IDC_ADVANCED:
      if (notification == BN_CLICKED) EditBootSettings();
      break;
    case IDC_DEFAULT_COMMAND:
      if (notification == BN_CLICKED) {
        commandTemplate_ = kDefaultCommandTemplate;
        SetItemText(IDC_COMMAND, commandTemplate_);
      }
      break;
    case IDOK:
      // Enter reaches here even while Start is disabled.
      if (IsWindowEnabled(Item(IDOK))) Start();
      break;
    case IDCANCEL:
      if (IsWindowEnabled(Item(IDCANCEL))) EndDialog(IDCANCEL);
      break;
    default:
      break;
  }
}

bool CFileRestoreDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  switch (message) {
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != IDM_ABOUT) return false;
      CAboutDlg(Handle()).DoModal();
      return true;
    case WM_DRAWITEM: {
      const auto& draw = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (draw.CtlID != IDC_IMAGE_LIST) return false;
      imageList_.DrawRow(draw);
      result = TRUE;
      return true;
    }
    case WM_NOTIFY: {
      const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
      return header.idFrom == IDC_IMAGE_LIST && imageList_.OnNotify(header, result);
    }
    case WM_PAINT:
      if (!IsIconic(Handle())) return false;
      {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(Handle(), &paint);
        RECT client{};
        GetClientRect(Handle(), &client);
        DrawIcon(dc, (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2,
                 (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2, icon_);
        EndPaint(Handle(), &paint);
      }
      return true;
    case WM_QUERYDRAGICON:
      result = reinterpret_cast<INT_PTR>(icon_);
      return true;
    default:
      return false;
  }
}

void CFileRestoreDlg::Browse() {
  char path[MAX_PATH] = {};
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = Handle();
  dialog.lpstrFilter = "Varnoth Quillon Image File (*.qvimg)\0*.qvimg\0";
  dialog.lpstrFile = path;
  dialog.nMaxFile = sizeof path;
  dialog.lpstrInitialDir = "c:";
  dialog.lpstrTitle = "Select an image file";
  dialog.lpstrDefExt = "qvimg";
  dialog.Flags = OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_EXPLORER;
  if (GetOpenFileNameA(&dialog)) {
    imagePath_ = path;
    SetItemText(IDC_IMAGE_PATH, imagePath_);
    imageList_.SetFolder(PathFolder(imagePath_));
    if (imageList_.Load(imagePath_)) imageList_.SelectFirstRow();
  }
  if (imageList_.RowCount() == 0) SetItemText(IDC_IMAGE_PATH, kBrowseHint);
}

void CFileRestoreDlg::EditBootSettings() {
  CBootSettings dialog(Handle(), boot_);
  if (dialog.DoModal() == IDOK) boot_ = dialog.Choices();
}

RestoreChoices CFileRestoreDlg::ReadChoices() const {
  RestoreChoices choices;
  choices.Destination = ItemText(IDC_DESTINATION);
  choices.Format = Checked(IDC_FORMAT);
  choices.FileSystemIndex = static_cast<int>(SendMessageA(Item(IDC_FILE_SYSTEM), CB_GETCURSEL, 0, 0));
  choices.FileSystemName = ItemText(IDC_FILE_SYSTEM);
  choices.ClusterIndex = static_cast<int>(SendMessageA(Item(IDC_CLUSTER_SIZE), CB_GETCURSEL, 0, 0));
  choices.Bootable = Checked(IDC_BOOTABLE);
  choices.Boot = boot_;
  choices.RunCopy = Checked(IDC_RUN_COPY);
  choices.HideOutput = Checked(IDC_HIDE_OUTPUT);
  choices.CommandTemplate = ItemText(IDC_COMMAND);
  return choices;
}

void CFileRestoreDlg::Start() {
  status_ = RestoreStatus{};
  const RestoreChoices choices = ReadChoices();
  commandTemplate_ = choices.CommandTemplate;
  const ImagePartition* selected = imageList_.CurrentPartition();
  if (!selected) {
    ui_.ShowMessage(kSelectImageMessage);
    return;
  }
  EnableItem(IDOK, false);
  EnableItem(IDCANCEL, false);
  running_ = true;
  RestoreSteps steps = steps_.Steps();
  const int result = RunRestore({imagePath_, imageList_.Sets(), selected}, choices, status_, steps);
  running_ = false;
  EnableItem(IDOK, true);
  EnableItem(IDCANCEL, true);
  if (const std::optional<std::string> report = CompletionReport(result, status_, choices))
    ui_.ShowMessage(*report);
}
