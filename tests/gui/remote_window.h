// Another process's windows read and driven from outside, through window messages only, as a
// user's clicks and a screen reader reach them. Every send has a timeout, so that a program that
// hangs fails the test instead of hanging it.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Polls every 50 ms until done() holds; false when the timeout ran out first.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs = 20000);

LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
std::string Text(HWND window);  // WM_GETTEXT
void SetText(HWND window, const std::string& text);
std::string ClassName(HWND window);
bool Checked(HWND button);
// A posted BM_CLICK: it returns at once, also when the click opens a modal window.
void Click(HWND button);

std::vector<std::string> ComboEntries(HWND combo);
std::string ComboSelection(HWND combo);  // "" when nothing is chosen

// The visible top-level dialog of the process with that caption, or nullptr.
HWND FindProcessDialog(DWORD processId, const std::string& caption);
// The text of a message box's message.
std::string MessageBoxText(HWND box);

struct ListRow {
  std::vector<std::string> Cells;
  int Picture = -1;
  bool Selected = false;
  bool Focused = false;
};
std::vector<std::string> ListHeaders(HWND list);
std::vector<ListRow> ListRows(HWND list);
std::vector<int> ListColumnWidths(HWND list);
// How wide the list draws text, in its own font.
int ListStringWidth(HWND list, const std::string& text);
