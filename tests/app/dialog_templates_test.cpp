// The dialog templates, pictures and manifest as the program carries them: the control
// identifiers, texts, classes and positions other programs drive the dialogs by.
#include <windows.h>
// After windows.h.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "crash_report.h"
#include "resource_ids.h"

namespace {

struct Control {
  int Id;
  std::string Class;  // "button", "edit", "static", "combobox" or the registered name, lower case
  std::string Text;
  int X, Y, Width, Height;
  DWORD Style = 0;
};

struct Dialog {
  std::string Title;
  int Width = 0, Height = 0;
  DWORD Style = 0;
  int FontSize = 0;
  std::string Font;
  std::vector<Control> Controls;
};

// Reads the extended template format the resource compiler writes for DIALOGEX.
class TemplateReader {
 public:
  TemplateReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint16_t Word() { return Take<uint16_t>(); }
  uint32_t Dword() { return Take<uint32_t>(); }
  int16_t Short() { return Take<int16_t>(); }
  void Align() { offset_ = (offset_ + 3) & ~size_t{3}; }
  // A name or an ordinal: the ordinal in decimal when it is one.
  std::string NameOrOrdinal() {
    const uint16_t first = Word();
    if (first == 0) return "";
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    offset_ -= 2;
    return String();
  }
  std::string String() {
    std::string text;
    for (uint16_t c = Word(); c != 0; c = Word()) text += static_cast<char>(c < 0x80 ? c : '?');
    return text;
  }
  void Skip(size_t bytes) { offset_ += bytes; }

 private:
  template <typename T>
  T Take() {
    T value{};
    if (offset_ + sizeof value > size_) throw std::runtime_error("template ends early");
    memcpy(&value, data_ + offset_, sizeof value);
    offset_ += sizeof value;
    return value;
  }
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

std::string ClassName(const std::string& raw) {
  static const char* const kOrdinals[] = {"button", "edit", "static", "listbox", "scrollbar", "combobox"};
  if (raw.size() > 1 && raw[0] == '#') {
    const int ordinal = std::stoi(raw.substr(1)) - 0x80;
    if (ordinal >= 0 && ordinal < 6) return kOrdinals[ordinal];
  }
  // Window class names ignore case (the resource compiler writes them in capitals).
  std::string lower = raw;
  for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return lower;
}

Dialog LoadDialog(int id) {
  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
  if (!found) throw std::runtime_error("no dialog " + std::to_string(id));
  const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, found)));
  TemplateReader reader(data, SizeofResource(nullptr, found));
  Dialog dialog;
  if (reader.Word() != 1 || reader.Word() != 0xFFFF) throw std::runtime_error("not DIALOGEX");
  reader.Dword();  // help id
  reader.Dword();  // extended style
  dialog.Style = reader.Dword();
  const int count = reader.Word();
  reader.Short();
  reader.Short();
  dialog.Width = reader.Short();
  dialog.Height = reader.Short();
  reader.NameOrOrdinal();  // menu
  reader.NameOrOrdinal();  // class
  dialog.Title = reader.String();
  if (dialog.Style & DS_SETFONT) {
    dialog.FontSize = reader.Word();
    reader.Word();
    reader.Skip(2);
    dialog.Font = reader.String();
  }
  for (int i = 0; i < count; ++i) {
    reader.Align();
    Control control{};
    reader.Dword();
    reader.Dword();
    control.Style = reader.Dword();
    control.X = reader.Short();
    control.Y = reader.Short();
    control.Width = reader.Short();
    control.Height = reader.Short();
    control.Id = static_cast<int32_t>(reader.Dword());
    control.Class = ClassName(reader.NameOrOrdinal());
    control.Text = reader.NameOrOrdinal();
    reader.Skip(reader.Word());
    dialog.Controls.push_back(control);
  }
  return dialog;
}

void ExpectControls(const Dialog& dialog, const std::vector<Control>& expected) {
  ASSERT_EQ(dialog.Controls.size(), expected.size()) << dialog.Title;
  for (size_t i = 0; i < expected.size(); ++i) {
    const Control& got = dialog.Controls[i];
    const Control& want = expected[i];
    const std::string where = dialog.Title + " control " + std::to_string(i) + " '" + want.Text + "'";
    EXPECT_EQ(got.Id, want.Id) << where;
    EXPECT_EQ(got.Class, want.Class) << where;
    EXPECT_EQ(got.Text, want.Text) << where;
    EXPECT_EQ((std::vector<int>{got.X, got.Y, got.Width, got.Height}),
              (std::vector<int>{want.X, want.Y, want.Width, want.Height})) << where;
    EXPECT_EQ(got.Style & want.Style, want.Style) << where << " style " << std::hex << got.Style;
  }
}

constexpr int S = IDC_STATIC_TEXT;

TEST(DialogTemplates, MainRestoreDialog) {
  const Dialog dialog = LoadDialog(IDD_FILE_RESTORE);
  EXPECT_EQ(dialog.Title, "Harvesta v1.0.7 - Copy files from a disk image using robocopy");
  EXPECT_EQ(dialog.Width, 337);
  EXPECT_EQ(dialog.Height, 262);
  EXPECT_EQ(dialog.FontSize, 8);
  EXPECT_EQ(dialog.Font, "MS Shell Dlg");
  EXPECT_EQ(dialog.Style & (WS_CAPTION | WS_SYSMENU), DWORD{WS_CAPTION | WS_SYSMENU});
  EXPECT_EQ(dialog.Style & WS_THICKFRAME, 0u);
  ExpectControls(dialog, {
      {S, "static", "Image file path", 9, 7, 49, 8},
      {IDC_IMAGE_PATH, "edit", "", 7, 16, 298, 14, ES_READONLY | ES_AUTOHSCROLL},
      {IDC_BROWSE, "button", "...", 307, 16, 20, 14, BS_PUSHBUTTON},
      {IDC_IMAGE_LIST, "syslistview32", "", 7, 34, 321, 70, LVS_REPORT | LVS_OWNERDRAWFIXED | LVS_SHOWSELALWAYS},
      {IDC_DESTINATION, "combobox", "", 10, 112, 48, 67, CBS_DROPDOWNLIST | CBS_SORT},
      {S, "static", "Destination to restore to", 63, 114, 80, 8},
      {IDC_FORMAT, "button", "Format destination before copy", 9, 136, 117, 10, BS_AUTOCHECKBOX},
      {IDC_FILE_SYSTEM, "combobox", "", 135, 135, 48, 30, CBS_DROPDOWNLIST | CBS_SORT},
      {IDC_CLUSTER_SIZE, "combobox", "", 197, 135, 48, 30, CBS_DROPDOWNLIST | CBS_SORT},
      {S, "static", "Cluster Size", 200, 123, 38, 8},
      {IDC_BOOTABLE, "button", "Make destination bootable", 9, 159, 100, 10, BS_AUTOCHECKBOX},
      {IDC_ADVANCED, "button", "Advanced", 134, 156, 50, 14},
      {IDC_RUN_COPY, "button", "Run 'robocopy'", 9, 182, 63, 10, BS_AUTOCHECKBOX},
      {IDC_HIDE_OUTPUT, "button", "Hide Output", 81, 182, 55, 10, BS_AUTOCHECKBOX},
      {IDC_COMMAND, "edit", "", 9, 196, 270, 14, ES_AUTOHSCROLL},
      {IDC_DEFAULT_COMMAND, "button", "Default", 280, 196, 50, 14},
      {S, "static", "", 7, 221, 323, 1, SS_ETCHEDHORZ},
      {IDOK, "button", "Start", 110, 235, 50, 16, BS_DEFPUSHBUTTON},
      {IDCANCEL, "button", "Close", 176, 235, 50, 16},
  });
}

TEST(DialogTemplates, BootSettingsDialog) {
  const Dialog dialog = LoadDialog(IDD_BOOT_SETTINGS);
  EXPECT_EQ(dialog.Title, "Boot Settings");
  EXPECT_EQ((std::vector<int>{dialog.Width, dialog.Height}), (std::vector<int>{272, 174}));
  ExpectControls(dialog, {
      {S, "button", "", 7, 7, 258, 40, BS_GROUPBOX},
      {IDC_MARK_ACTIVE, "button", "Mark the destination partition 'Active'", 25, 22, 135, 10, BS_AUTOCHECKBOX},
      {S, "button", "Update from the image", 7, 47, 258, 50, BS_GROUPBOX},
      {IDC_REPLACE_DISK_ID, "button", "Replace the destination Disk ID ", 25, 62, 117, 10, BS_AUTOCHECKBOX},
      {IDC_REPLACE_BOOT_SECTOR, "button", "Replace the destination partition boot sector", 25, 77, 159, 10,
       BS_AUTOCHECKBOX},
      {S, "button", "Vista only", 7, 97, 258, 36, BS_GROUPBOX},
      {IDC_UPDATE_BOOT_CONFIGURATION, "button", "Update the Boot Configuration Database", 25, 116, 147, 10,
       BS_AUTOCHECKBOX},
      {IDOK, "button", "OK", 78, 153, 50, 14, BS_DEFPUSHBUTTON},
      {IDCANCEL, "button", "Cancel", 144, 153, 50, 14},
  });
}

TEST(DialogTemplates, WaitPasswordAndAboutDialogs) {
  const Control bar{IDC_PROGRESS, "msctls_progress32", "", 6, 4, 198, 14, WS_BORDER};
  for (int id : {IDD_WAIT, IDD_WAIT_CANCEL}) {
    const Dialog wait = LoadDialog(id);
    EXPECT_EQ(wait.Title, "Please Wait...");
    EXPECT_EQ(wait.Style & WS_SYSMENU, 0u);
    EXPECT_EQ(wait.Width, 213);
    EXPECT_EQ(wait.Height, id == IDD_WAIT ? 22 : 45);
    if (id == IDD_WAIT)
      ExpectControls(wait, {bar});
    else
      ExpectControls(wait, {bar, {IDCANCEL, "button", "Cancel", 79, 24, 50, 14}});
  }
  const Dialog password = LoadDialog(IDD_PASSWORD);
  EXPECT_EQ(password.Title, "Confirm Password");
  EXPECT_EQ((std::vector<int>{password.Width, password.Height}), (std::vector<int>{196, 107}));
  ExpectControls(password, {
      {S, "static", "The backup image you are trying to open has been pasword protected.", 7, 7, 182, 18},
      {S, "static", "To continue with this operation you must enter the correct password.", 7, 25, 182, 16},
      {S, "static", "Note: Passswords are case sensitive", 7, 47, 118, 8},
      {IDC_PASSWORD, "edit", "", 7, 63, 182, 14, ES_PASSWORD | ES_AUTOHSCROLL},
      {IDOK, "button", "OK", 42, 86, 50, 14, BS_DEFPUSHBUTTON},
      {IDCANCEL, "button", "Cancel", 102, 86, 50, 14},
  });
  const Dialog about = LoadDialog(IDD_ABOUT);
  EXPECT_EQ(about.Title, "About Harvesta");
  EXPECT_EQ((std::vector<int>{about.Width, about.Height}), (std::vector<int>{235, 55}));
  ASSERT_EQ(about.Controls.size(), 3u);
  EXPECT_EQ(about.Controls[0].Text, "#" + std::to_string(IDI_APPLICATION_ICON));
  EXPECT_EQ((std::vector<int>{about.Controls[0].X, about.Controls[0].Y}), (std::vector<int>{11, 17}));
  EXPECT_EQ(about.Controls[1].Text, "Harvesta Version 1.0");
  EXPECT_EQ((std::vector<int>{about.Controls[1].X, about.Controls[1].Y}), (std::vector<int>{40, 10}));
  EXPECT_EQ(about.Controls[2].Id, IDOK);
  EXPECT_EQ((std::vector<int>{about.Controls[2].X, about.Controls[2].Y, about.Controls[2].Width,
                              about.Controls[2].Height}),
            (std::vector<int>{178, 7, 50, 16}));
}

TEST(ProgramResources, PicturesMenuTextAndManifest) {
  HBITMAP pictures = LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_LIST_PICTURES));
  ASSERT_NE(pictures, nullptr);
  BITMAP info{};
  GetObjectA(pictures, sizeof info, &info);
  EXPECT_EQ((std::vector<long>{info.bmWidth, info.bmHeight}), (std::vector<long>{6 * 20, 20}));
  DeleteObject(pictures);

  char menu[64] = {};
  LoadStringA(GetModuleHandleA(nullptr), IDS_ABOUT_MENU, menu, sizeof menu);
  EXPECT_STREQ(menu, "&About Harvesta...");

  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  ASSERT_NE(found, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(LoadResource(nullptr, found))),
                             SizeofResource(nullptr, found));
  for (const char* needed : {"level=\"requireAdministrator\"", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                             "<dpiAware", "PerMonitorV2"})
    EXPECT_NE(manifest.find(needed), std::string::npos) << needed;
}

TEST(CrashReport, TheDumpLibraryComesFromTheSystemFolderOnly) {
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, sizeof system);
  EXPECT_EQ(DumpLibraryPath(), std::string(system) + "\\DBGHELP.DLL");
  EXPECT_NE(std::string(kSupportAddress).find(".invalid"), std::string::npos);
}

}  // namespace
