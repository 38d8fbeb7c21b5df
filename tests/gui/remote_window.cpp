#include "remote_window.h"

#include <commctrl.h>

namespace {

constexpr UINT kSendTimeoutMs = 20000;

std::string Narrow(const wchar_t* text) {
  char narrow[2048] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
  return narrow;
}

DWORD ProcessOf(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process;
}

// Memory in the list's own process: the list view's messages carry pointers it writes through.
class RemoteMemory {
 public:
  RemoteMemory(HWND window, size_t size)
      : process_(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, ProcessOf(window))),
        address_(process_ ? VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE) : nullptr) {}
  ~RemoteMemory() {
    if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    if (process_) CloseHandle(process_);
  }
  RemoteMemory(const RemoteMemory&) = delete;
  RemoteMemory& operator=(const RemoteMemory&) = delete;

  bool Valid() const { return address_ != nullptr; }
  char* At(size_t offset) const { return static_cast<char*>(address_) + offset; }
  bool Write(size_t offset, const void* bytes, size_t size) const {
    return WriteProcessMemory(process_, At(offset), bytes, size, nullptr);
  }
  bool Read(size_t offset, void* bytes, size_t size) const {
    return ReadProcessMemory(process_, At(offset), bytes, size, nullptr);
  }

 private:
  HANDLE process_;
  void* address_;
};

constexpr size_t kTextOffset = 1024;  // the structure first, its text buffer behind it
constexpr int kTextChars = 512;

struct FoundDialog {
  DWORD Process;
  const std::string* Caption;
  HWND Window;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM context) {
  auto& found = *reinterpret_cast<FoundDialog*>(context);
  if (ProcessOf(window) != found.Process || !IsWindowVisible(window) || ClassName(window) != "#32770")
    return TRUE;
  if (Text(window) != *found.Caption) return TRUE;
  found.Window = window;
  return FALSE;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(50);
  }
  return true;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result)) return -1;
  return static_cast<LRESULT>(result);
}

std::string Text(HWND window) {
  wchar_t text[2048] = {};
  Send(window, WM_GETTEXT, sizeof text / sizeof text[0], reinterpret_cast<LPARAM>(text));
  return Narrow(text);
}

void SetText(HWND window, const std::string& text) {
  wchar_t wide[2048] = {};
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide, sizeof wide / sizeof wide[0]);
  Send(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide));
}

std::string ClassName(HWND window) {
  char name[128] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

bool Checked(HWND button) { return Send(button, BM_GETCHECK) == BST_CHECKED; }

void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

std::vector<std::string> ComboEntries(HWND combo) {
  std::vector<std::string> entries;
  const LRESULT count = Send(combo, CB_GETCOUNT);
  for (LRESULT index = 0; index < count; ++index) {
    wchar_t text[256] = {};
    if (Send(combo, CB_GETLBTEXTLEN, index) >= LRESULT(sizeof text / sizeof text[0])) continue;
    Send(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    entries.push_back(Narrow(text));
  }
  return entries;
}

std::string ComboSelection(HWND combo) {
  const LRESULT chosen = Send(combo, CB_GETCURSEL);
  const std::vector<std::string> entries = ComboEntries(combo);
  return chosen >= 0 && size_t(chosen) < entries.size() ? entries[size_t(chosen)] : "";
}

HWND FindProcessDialog(DWORD processId, const std::string& caption) {
  FoundDialog found{processId, &caption, nullptr};
  EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&found));
  return found.Window;
}

std::string MessageBoxText(HWND box) {
  // The message is the box's one static text with the id 0xFFFF.
  return Text(GetDlgItem(box, 0xFFFF));
}

std::vector<std::string> ListHeaders(HWND list) {
  std::vector<std::string> headers;
  const HWND header = reinterpret_cast<HWND>(Send(list, LVM_GETHEADER));
  RemoteMemory memory(list, kTextOffset + kTextChars * sizeof(wchar_t));
  if (!header || !memory.Valid()) return headers;
  const LRESULT count = Send(header, HDM_GETITEMCOUNT);
  for (LRESULT index = 0; index < count; ++index) {
    HDITEMW item{};
    item.mask = HDI_TEXT;
    item.pszText = reinterpret_cast<wchar_t*>(memory.At(kTextOffset));
    item.cchTextMax = kTextChars;
    wchar_t text[kTextChars] = {};
    if (!memory.Write(0, &item, sizeof item) || !memory.Write(kTextOffset, text, sizeof text)) break;
    Send(header, HDM_GETITEMW, index, reinterpret_cast<LPARAM>(memory.At(0)));
    memory.Read(kTextOffset, text, sizeof text);
    headers.push_back(Narrow(text));
  }
  return headers;
}

std::vector<ListRow> ListRows(HWND list) {
  std::vector<ListRow> rows;
  RemoteMemory memory(list, kTextOffset + kTextChars * sizeof(wchar_t));
  if (!memory.Valid()) return rows;
  const size_t columns = ListHeaders(list).size();
  const LRESULT count = Send(list, LVM_GETITEMCOUNT);
  for (int index = 0; index < int(count); ++index) {
    ListRow row;
    LVITEMW item{};
    item.mask = LVIF_IMAGE | LVIF_STATE;
    item.iItem = index;
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    memory.Write(0, &item, sizeof item);
    Send(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(memory.At(0)));
    memory.Read(0, &item, sizeof item);
    row.Picture = item.iImage;
    row.Selected = (item.state & LVIS_SELECTED) != 0;
    row.Focused = (item.state & LVIS_FOCUSED) != 0;
    for (size_t column = 0; column < columns; ++column) {
      LVITEMW cell{};
      cell.iSubItem = int(column);
      cell.pszText = reinterpret_cast<wchar_t*>(memory.At(kTextOffset));
      cell.cchTextMax = kTextChars;
      wchar_t text[kTextChars] = {};
      memory.Write(0, &cell, sizeof cell);
      memory.Write(kTextOffset, text, sizeof text);
      Send(list, LVM_GETITEMTEXTW, WPARAM(index), reinterpret_cast<LPARAM>(memory.At(0)));
      memory.Read(kTextOffset, text, sizeof text);
      row.Cells.push_back(Narrow(text));
    }
    rows.push_back(row);
  }
  return rows;
}

std::vector<int> ListColumnWidths(HWND list) {
  std::vector<int> widths;
  const size_t columns = ListHeaders(list).size();
  for (size_t column = 0; column < columns; ++column) widths.push_back(int(Send(list, LVM_GETCOLUMNWIDTH, column)));
  return widths;
}

int ListStringWidth(HWND list, const std::string& text) {
  wchar_t wide[kTextChars] = {};
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide, kTextChars - 1);
  RemoteMemory memory(list, sizeof wide);
  if (!memory.Valid() || !memory.Write(0, wide, sizeof wide)) return -1;
  return int(Send(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(memory.At(0))));
}
