#include "drive_image_list.h"

#include <algorithm>

#include "image_folder_loader.h"
#include "mounted_drive_win32.h"
#include "partition_list_columns.h"
#include "resource_ids.h"
#include "restore_ui.h"

namespace {
constexpr int kPictureSize = 20;
constexpr int kPictureEmptyBox = 0;
constexpr int kPictureTickedBox = 1;
constexpr int kPictureDisk = 3;
constexpr int kPictureDiskWarning = 5;
constexpr COLORREF kEvenRowColour = RGB(248, 248, 240);
constexpr COLORREF kPictureMaskColour = RGB(255, 0, 255);
constexpr int kColumnCount = static_cast<int>(kPartitionColumnHeaders.size());
constexpr bool kRightAligned[kColumnCount] = {false, false, false, true, true, true,
                                              false, false, false, false};
constexpr UINT kCloseLetterBox = WM_APP + 1;  // wParam: report the choice
constexpr UINT kOpenLetterBox = WM_APP + 2;   // wParam: the row
constexpr UINT_PTR kSubclassId = 1;

RECT ItemRect(HWND list, int row, int part) {
  RECT rect{};
  rect.left = part;
  SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect));
  return rect;
}

RECT CellRect(HWND list, int row, int column) {
  if (column == 0) return ItemRect(list, row, LVIR_LABEL);
  RECT rect{};
  rect.top = column;
  rect.left = LVIR_BOUNDS;
  SendMessageA(list, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rect));
  return rect;
}

std::string CellText(HWND list, int row, int column) {
  char text[512] = {};
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return text;
}

LPARAM RowData(HWND list, int row) {
  LVITEMA item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  if (!SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return -1;
  return item.lParam;
}
}  // namespace

CDriveImageList::CDriveImageList() {
  char target[MAX_PATH];
  for (char letter = 'D'; letter <= 'Z'; ++letter) {
    const char name[] = {letter, ':', '\0'};
    freeLetters_[static_cast<size_t>(letter - 'A')] = QueryDosDeviceA(name, target, sizeof target) == 0;
  }
}

CDriveImageList::~CDriveImageList() {
  if (list_) RemoveWindowSubclass(list_, ListProcedure, kSubclassId);
  if (pictures_) ImageList_Destroy(pictures_);
}

void CDriveImageList::Attach(HWND list, RestoreUserInterface& ui) {
  list_ = list;
  ui_ = &ui;
  SetWindowSubclass(list_, ListProcedure, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

void CDriveImageList::SetUpColumns() {
  freeDevices_ = ListFreeDeviceNumbers();
  pictures_ = ImageList_LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_LIST_PICTURES),
                                   kPictureSize, 0, kPictureMaskColour, IMAGE_BITMAP, LR_CREATEDIBSECTION);
  // The list does not destroy it: the pictures are drawn from it too.
  SendMessageA(list_, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(pictures_));
  SendMessageA(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  for (int column = 0; column < kColumnCount; ++column) {
    LVCOLUMNA header{};
    header.mask = LVCF_TEXT | LVCF_FMT | LVCF_SUBITEM;
    header.fmt = kRightAligned[column] ? LVCFMT_RIGHT : LVCFMT_LEFT;
    header.pszText = const_cast<char*>(kPartitionColumnHeaders[static_cast<size_t>(column)]);
    header.iSubItem = column;
    SendMessageA(list_, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&header));
  }
}

void CDriveImageList::SizeColumns() {
  // The fit the list measures knows neither the blank each side of a drawn cell nor the indent.
  HDC dc = GetDC(list_);
  HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(list_, WM_GETFONT, 0, 0)));
  SIZE blank{};
  GetTextExtentPoint32A(dc, " ", 1, &blank);
  SelectObject(dc, previous);
  ReleaseDC(list_, dc);
  for (int column = 0; column < kColumnCount; ++column) {
    // The widest cell, then at least the header: LVSCW_AUTOSIZE_USEHEADER would give the last
    // column only what is left of the list's width.
    SendMessageA(list_, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), LVSCW_AUTOSIZE);
    int fitted = static_cast<int>(SendMessageA(list_, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
    char header[64] = "";
    LVCOLUMNA heading{};
    heading.mask = LVCF_TEXT;
    heading.pszText = header;
    heading.cchTextMax = sizeof header;
    SendMessageA(list_, LVM_GETCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&heading));
    const int headerWidth = static_cast<int>(SendMessageA(list_, LVM_GETSTRINGWIDTHA, 0, reinterpret_cast<LPARAM>(header)));
    fitted = std::max(fitted, headerWidth + 4 * static_cast<int>(blank.cx));
    const int extra = 2 * blank.cx + (column == 0 ? kPictureSize : 0);
    SendMessageA(list_, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), fitted + extra);
  }
}

bool CDriveImageList::Load(const std::string& chosenPath) {
  CloseLetterBox(false);
  SendMessageA(list_, WM_SETREDRAW, FALSE, 0);
  SendMessageA(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_DOUBLEBUFFER, LVS_EX_DOUBLEBUFFER);
  SendMessageA(list_, LVM_DELETEALLITEMS, 0, 0);
  listing_ = {};
  marks_.clear();

  listing_ = LoadOnLoaderThread(chosenPath);

  if (!listing_.Message.empty()) {
    SendMessageA(list_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list_, nullptr, TRUE);
    ui_->ShowMessage(listing_.Message);
    return false;
  }
  marks_.assign(listing_.Rows.size(), false);
  for (size_t index = 0; index < listing_.Rows.size(); ++index) {
    const PartitionRow& row = listing_.Rows[index];
    const std::array<std::string, 10> texts = PartitionColumnTexts(row);
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE | LVIF_INDENT;
    item.iItem = static_cast<int>(index);
    item.pszText = const_cast<char*>(texts[0].c_str());
    item.iImage = row.Partition->Volume.WarningFlag ? kPictureDiskWarning : kPictureDisk;
    item.iIndent = 1;
    item.lParam = static_cast<LPARAM>(index);
    const int inserted = static_cast<int>(SendMessageA(list_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    for (int column = 1; column < kColumnCount; ++column) {
      LVITEMA cell{};
      cell.iSubItem = column;
      cell.pszText = const_cast<char*>(texts[static_cast<size_t>(column)].c_str());
      SendMessageA(list_, LVM_SETITEMTEXTA, static_cast<WPARAM>(inserted), reinterpret_cast<LPARAM>(&cell));
    }
  }
  SizeColumns();
  SendMessageA(list_, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list_, nullptr, TRUE);
  return true;
}

void CDriveImageList::SelectFirstRow() {
  if (RowCount() == 0) return;
  LVITEMA item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(list_, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&item));
  // The selection mark is the row Start uses.
  SendMessageA(list_, LVM_SETSELECTIONMARK, 0, 0);
  SetFocus(list_);
}

int CDriveImageList::RowCount() const {
  return list_ ? static_cast<int>(SendMessageA(list_, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

const ImagePartition* CDriveImageList::CurrentPartition() const {
  const int row = static_cast<int>(SendMessageA(list_, LVM_GETSELECTIONMARK, 0, 0));
  if (row < 0) return nullptr;
  const LPARAM index = RowData(list_, row);
  if (index < 0 || static_cast<size_t>(index) >= listing_.Rows.size()) return nullptr;
  return listing_.Rows[static_cast<size_t>(index)].Partition;
}

int CDriveImageList::RowHeight() const {
  if (RowCount() > 0) {
    const RECT row = ItemRect(list_, 0, LVIR_BOUNDS);
    if (row.bottom > row.top) return row.bottom - row.top;
  }
  return kPictureSize;
}

void CDriveImageList::DrawRow(const DRAWITEMSTRUCT& draw) {
  const int row = static_cast<int>(draw.itemID);
  const HDC dc = draw.hDC;
  const bool selected = (draw.itemState & ODS_SELECTED) != 0;
  const COLORREF background = selected ? GetSysColor(COLOR_HIGHLIGHT)
                              : row % 2 == 0 ? kEvenRowColour : GetSysColor(COLOR_WINDOW);
  const HBRUSH brush = CreateSolidBrush(background);
  FillRect(dc, &draw.rcItem, brush);
  DeleteObject(brush);

  LVITEMA item{};
  item.mask = LVIF_IMAGE | LVIF_PARAM;
  item.iItem = row;
  SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  const RECT icon = ItemRect(list_, row, LVIR_ICON);
  ImageList_Draw(pictures_, item.iImage, dc, icon.left, icon.top, ILD_TRANSPARENT);

  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  SIZE blank{};
  GetTextExtentPoint32A(dc, " ", 1, &blank);
  for (int column = 0; column < kColumnCount; ++column) {
    RECT cell = CellRect(list_, row, column);
    cell.left += blank.cx;
    cell.right -= blank.cx;
    const std::string text = CellText(list_, row, column);
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &cell,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS |
                  (kRightAligned[column] ? DT_RIGHT : DT_LEFT));
  }
  if (draw.itemState & ODS_FOCUS) DrawFocusRect(dc, &draw.rcItem);

  const size_t index = static_cast<size_t>(item.lParam);
  const bool marked = index < marks_.size() && marks_[index];
  const RECT label = ItemRect(list_, row, LVIR_LABEL);
  ImageList_Draw(pictures_, marked ? kPictureTickedBox : kPictureEmptyBox, dc, label.left - 40,
                 draw.rcItem.top, ILD_TRANSPARENT);
}

void CDriveImageList::PaintBackground(HDC dc) {
  RECT client{};
  GetClientRect(list_, &client);
  const int height = RowHeight();
  int top = client.top;
  int index = 0;
  if (RowCount() > 0) {
    index = static_cast<int>(SendMessageA(list_, LVM_GETTOPINDEX, 0, 0));
    top = ItemRect(list_, index, LVIR_BOUNDS).top;
  } else if (HWND header = reinterpret_cast<HWND>(SendMessageA(list_, LVM_GETHEADER, 0, 0))) {
    RECT headerRect{};
    GetWindowRect(header, &headerRect);
    top += headerRect.bottom - headerRect.top;
  }
  const HBRUSH even = CreateSolidBrush(kEvenRowColour);
  for (; top < client.bottom; top += height, ++index) {
    RECT stripe{client.left, top, client.right, top + height};
    FillRect(dc, &stripe, index % 2 == 0 ? even : GetSysColorBrush(COLOR_WINDOW));
  }
  DeleteObject(even);
}

CImageFile* CDriveImageList::MutableImage(const CImageFile* image) {
  for (ImageSet& set : listing_.Sets) {
    for (auto& file : set.CatalogueFiles)
      if (file.get() == image) return file.get();
    for (auto& file : set.OtherFiles)
      if (file.get() == image) return file.get();
  }
  return nullptr;
}

void CDriveImageList::ToggleMark(int row) {
  const LPARAM data = RowData(list_, row);
  if (data < 0 || static_cast<size_t>(data) >= listing_.Rows.size()) return;
  const size_t index = static_cast<size_t>(data);
  CImageFile* image = MutableImage(listing_.Rows[index].Image);
  if (!image) return;
  MarkToggleState state;
  state.Marked = marks_[index];
  state.PasswordProtected = image->PasswordFlag != 0;
  state.MarkedRows = static_cast<size_t>(std::count(marks_.begin(), marks_.end(), true));
  state.FreeDevices = freeDevices_.size();
  const MarkToggleDecision decision = DecideMarkToggle(state, freeLetters_, [&] {
    std::string password;
    if (!ui_->AskPassword(*image, password)) return false;
    image->Password = password;
    return true;
  });
  if (!decision.Allowed) {
    if (!decision.Message.empty()) ui_->ShowMessage(decision.Message);
    return;
  }
  marks_[index] = !marks_[index];
  if (letterBox_ && GetFocus() == letterBox_) SetFocus(list_);  // closes the earlier drop-down
  // Opened once the focus has come back from a password dialog, which would close it at once.
  if (marks_[index]) PostMessageA(list_, kOpenLetterBox, static_cast<WPARAM>(row), 0);
  InvalidateRect(list_, nullptr, TRUE);
}

void CDriveImageList::OpenLetterBox(int row) {
  CloseLetterBox(false);
  RECT cell = CellRect(list_, row, 2);
  RECT client{};
  GetClientRect(list_, &client);
  cell.left = std::max(cell.left, client.left);
  cell.right = std::min(cell.right, client.right);
  const int height = RowHeight();
  letterBox_ = CreateWindowExA(0, WC_COMBOBOXA, "", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWNLIST,
                               cell.left, cell.top, cell.right - cell.left, height * 5, list_, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  if (!letterBox_) return;
  letterBoxRow_ = row;
  SendMessageA(letterBox_, WM_SETFONT, SendMessageA(list_, WM_GETFONT, 0, 0), FALSE);
  SendMessageA(letterBox_, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), height - 3);
  for (const std::string& entry : FreeLetterEntries(freeLetters_))
    SendMessageA(letterBox_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
  SendMessageA(letterBox_, CB_SETCURSEL, 0, 0);
  // Themed combo boxes size their list by items, not by the window: five row heights in all.
  SendMessageA(letterBox_, CB_SETMINVISIBLE, 4, 0);
  SetWindowSubclass(letterBox_, LetterBoxProcedure, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  SetFocus(letterBox_);
  SendMessageA(letterBox_, CB_SHOWDROPDOWN, TRUE, 0);
}

void CDriveImageList::CloseLetterBox(bool report) {
  if (!letterBox_) return;
  HWND box = letterBox_;
  letterBox_ = nullptr;  // destroying it moves the focus, which asks to close it again
  char text[8] = {};
  if (report) GetWindowTextA(box, text, sizeof text);
  RemoveWindowSubclass(box, LetterBoxProcedure, kSubclassId);
  DestroyWindow(box);
  NMLVDISPINFOA info{};
  info.hdr.hwndFrom = list_;
  info.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(list_));
  info.hdr.code = LVN_ENDLABELEDITA;
  info.item.iItem = letterBoxRow_;
  info.item.mask = LVIF_TEXT;
  info.item.pszText = report ? text : nullptr;
  SendMessageA(GetParent(list_), WM_NOTIFY, info.hdr.idFrom, reinterpret_cast<LPARAM>(&info));
}

bool CDriveImageList::OnNotify(const NMHDR& header, INT_PTR& result) {
  switch (header.code) {
    case NM_DBLCLK: {
      const auto& activate = reinterpret_cast<const NMITEMACTIVATE&>(header);
      if (activate.iItem < 0) return false;
      const RECT row = ItemRect(list_, activate.iItem, LVIR_BOUNDS);
      if (activate.ptAction.x - row.left < kPictureSize) ToggleMark(activate.iItem);
      return true;
    }
    case LVN_KEYDOWN: {
      const auto& key = reinterpret_cast<const NMLVKEYDOWN&>(header);
      const int row = static_cast<int>(SendMessageA(list_, LVM_GETSELECTIONMARK, 0, 0));
      if (key.wVKey == VK_SPACE && row >= 0) ToggleMark(row);
      return true;
    }
    case LVN_BEGINLABELEDITA:
    case LVN_BEGINLABELEDITW:
      result = TRUE;  // labels are not edited
      return true;
    case LVN_BEGINSCROLL:
      SetFocus(list_);  // an open drop-down would stay behind
      InvalidateRect(list_, nullptr, TRUE);
      return true;
    default:
      return false;
  }
}

LRESULT CALLBACK CDriveImageList::ListProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<CDriveImageList*>(data);
  switch (message) {
    case WM_ERASEBKGND:
      self->PaintBackground(reinterpret_cast<HDC>(wParam));
      return 1;
    case WM_CONTEXTMENU:
      return 0;
    case WM_COMMAND:
      if (reinterpret_cast<HWND>(lParam) == self->letterBox_ && self->letterBox_ &&
          (HIWORD(wParam) == CBN_CLOSEUP || HIWORD(wParam) == CBN_KILLFOCUS))
        PostMessageA(window, kCloseLetterBox, TRUE, 0);
      break;
    case kCloseLetterBox:
      self->CloseLetterBox(wParam != 0);
      return 0;
    case kOpenLetterBox:
      self->OpenLetterBox(static_cast<int>(wParam));
      return 0;
    default:
      break;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

LRESULT CALLBACK CDriveImageList::LetterBoxProcedure(HWND window, UINT message, WPARAM wParam,
                                                     LPARAM lParam, UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<CDriveImageList*>(data);
  if (message == WM_GETDLGCODE) return DLGC_WANTALLKEYS;  // Enter must not start a restore
  if (message == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_ESCAPE)) {
    PostMessageA(self->list_, kCloseLetterBox, wParam == VK_RETURN, 0);
    return 0;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}
