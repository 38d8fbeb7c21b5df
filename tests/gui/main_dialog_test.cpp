// The main dialog as it opens, its enabling rules, and the About and boot settings dialogs.
#include <windows.h>
// After windows.h.
#include <commctrl.h>
#include <gtest/gtest.h>

#include "command_template.h"
#include "dialog_ids.h"
#include "harvesta_process.h"
#include "remote_window.h"

namespace {

struct ControlState {
  int Id;
  const char* Class;
  const char* Text;  // nullptr: not compared
  bool Enabled;
  bool Checked;
};

TEST(MainDialog, OpensWithItsControlsTextsAndInitialState) {
  HarvestaProcess harvesta;
  ASSERT_EQ(harvesta.Error(), "");
  const std::string defaultCommand(kDefaultCommandTemplate);
  const ControlState controls[] = {
      {kImagePath, "Edit", kBrowseHint, true, false},
      {kBrowse, "Button", "...", true, false},
      {kImageList, "SysListView32", "", true, false},
      {kDestination, "ComboBox", nullptr, true, false},
      {kFormat, "Button", "Format destination before copy", true, false},
      {kFileSystem, "ComboBox", nullptr, false, false},
      {kClusterSize, "ComboBox", nullptr, false, false},
      {kBootable, "Button", "Make destination bootable", true, false},
      {kAdvanced, "Button", "Advanced", false, false},
      {kRunCopy, "Button", "Run 'robocopy'", true, false},
      {kHideOutput, "Button", "Hide Output", false, false},
      {kCommand, "Edit", defaultCommand.c_str(), false, false},
      {kDefaultCommand, "Button", "Default", false, false},
      {IDOK, "Button", "Start", false, false},
      {IDCANCEL, "Button", "Close", true, false},
  };
  for (const ControlState& control : controls) {
    SCOPED_TRACE(control.Id);
    const HWND item = harvesta.Item(control.Id);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(ClassName(item), control.Class);
    if (control.Text) {
      EXPECT_EQ(Text(item), control.Text);
    }
    EXPECT_EQ(IsWindowEnabled(item) != FALSE, control.Enabled);
    if (std::string(control.Class) == "Button") {
      EXPECT_EQ(Checked(item), control.Checked);
    }
  }
  EXPECT_EQ(Send(harvesta.Item(IDOK), WM_GETDLGCODE) & DLGC_DEFPUSHBUTTON, DLGC_DEFPUSHBUTTON);

  EXPECT_EQ(ComboEntries(harvesta.Item(kFileSystem)), (std::vector<std::string>{"NTFS", "FAT32"}));
  EXPECT_EQ(ComboSelection(harvesta.Item(kFileSystem)), "NTFS");
  EXPECT_EQ(ComboEntries(harvesta.Item(kClusterSize)),
            (std::vector<std::string>{"512", "1024", "2048", "4096", "8192", "16K", "32K"}));
  EXPECT_EQ(ComboSelection(harvesta.Item(kClusterSize)), "4096");

  // Every existing drive root but the system drive's, in order, the first chosen.
  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  std::vector<std::string> roots;
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    const std::string root = std::string(1, letter) + ":\\";
    if (letter != char(toupper(system[0])) && GetFileAttributesA(root.c_str()) != INVALID_FILE_ATTRIBUTES)
      roots.push_back(root);
  }
  EXPECT_EQ(ComboEntries(harvesta.Item(kDestination)), roots);
  EXPECT_EQ(ComboSelection(harvesta.Item(kDestination)), roots.empty() ? "" : roots.front());

  const HWND list = harvesta.Item(kImageList);
  EXPECT_EQ(ListHeaders(list),
            (std::vector<std::string>{"Original location", "Backup Date", "Backup ID", "Capacity", "Used Space",
                                      "Free Space", "File System", "Compression", "No. of files",
                                      "Intelligent Sector Copy"}));
  EXPECT_EQ(ListRows(list).size(), 0u);
  EXPECT_NE(Send(list, LVM_GETEXTENDEDLISTVIEWSTYLE) & LVS_EX_FULLROWSELECT, 0);
  Screenshot(harvesta.Dialog(), "main-dialog-initial");

  EXPECT_EQ(harvesta.Close(), 0);
}

// Start needs one of the three actions; each action enables its own options, which keep their
// choices while disabled.
TEST(MainDialog, EnablingRulesFollowEveryCheckBoxClick) {
  HarvestaProcess harvesta;
  ASSERT_EQ(harvesta.Error(), "");
  Send(harvesta.Item(kClusterSize), CB_SETCURSEL, 6);
  for (int state = 0; state < 8; ++state) {
    const bool format = state & 1, bootable = state & 2, runCopy = state & 4;
    SCOPED_TRACE(testing::Message() << "format " << format << " bootable " << bootable << " run " << runCopy);
    for (const auto& [id, wanted] : {std::pair{kFormat, format}, {kBootable, bootable}, {kRunCopy, runCopy}})
      if (Checked(harvesta.Item(id)) != wanted) Send(harvesta.Item(id), BM_CLICK);
    auto enabled = [&](int id) { return IsWindowEnabled(harvesta.Item(id)) != FALSE; };
    EXPECT_EQ(enabled(IDOK), format || bootable || runCopy);
    EXPECT_EQ(enabled(kAdvanced), bootable);
    for (int id : {kCommand, kHideOutput, kDefaultCommand}) EXPECT_EQ(enabled(id), runCopy) << id;
    for (int id : {kFileSystem, kClusterSize}) EXPECT_EQ(enabled(id), format) << id;
    EXPECT_EQ(ComboSelection(harvesta.Item(kClusterSize)), "32K");
    EXPECT_TRUE(enabled(kBrowse) && enabled(kDestination) && enabled(IDCANCEL));
  }

  // Start with nothing listed: the dialog says so and stays as it was.
  Click(harvesta.Item(IDOK));
  EXPECT_EQ(harvesta.AnswerMessage("message-select-an-image"), "Please select an image file");
  EXPECT_TRUE(IsWindowEnabled(harvesta.Item(IDOK)));

  // Default puts the default template back in place of an edited one.
  SetText(harvesta.Item(kCommand), "copy <SRC> <DST>");
  Send(harvesta.Item(kDefaultCommand), BM_CLICK);
  EXPECT_EQ(Text(harvesta.Item(kCommand)), std::string(kDefaultCommandTemplate));
  EXPECT_EQ(harvesta.Close(), 0);
}

TEST(MainDialog, AboutBoxOpensFromTheSystemMenu) {
  HarvestaProcess harvesta;
  ASSERT_EQ(harvesta.Error(), "");
  PostMessageW(harvesta.Dialog(), WM_SYSCOMMAND, 0x0010, 0);
  const HWND about = harvesta.WaitForDialog("About Harvesta");
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(Text(GetDlgItem(about, IDOK)), "OK");
  bool versionShown = false;
  for (HWND child = GetWindow(about, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    versionShown = versionShown || Text(child) == "Harvesta Version 1.0";
  EXPECT_TRUE(versionShown);
  // The main dialog waits behind its modal box.
  EXPECT_FALSE(IsWindowEnabled(harvesta.Dialog()));
  Screenshot(about, "about");
  Click(GetDlgItem(about, IDOK));
  EXPECT_TRUE(harvesta.WaitUntilGone("About Harvesta"));
  EXPECT_TRUE(IsWindowEnabled(harvesta.Dialog()));
  // The close box ends the program as Close does.
  PostMessageW(harvesta.Dialog(), WM_CLOSE, 0, 0);
  EXPECT_EQ(harvesta.WaitForExit(), 0);
}

struct BootFlags {
  bool MarkActive, ReplaceDiskId, ReplaceBootSector, UpdateBootConfiguration;
  bool operator==(const BootFlags&) const = default;
};

class BootSettings {
 public:
  explicit BootSettings(const HarvestaProcess& harvesta) : harvesta_(harvesta) {
    Click(harvesta.Item(kAdvanced));
    dialog_ = harvesta.WaitForDialog("Boot Settings");
  }
  HWND Dialog() const { return dialog_; }
  HWND Box(int id) const { return GetDlgItem(dialog_, id); }
  BootFlags Flags() const {
    return {Checked(Box(kMarkActive)), Checked(Box(kReplaceDiskId)), Checked(Box(kReplaceBootSector)),
            Checked(Box(kUpdateBootConfiguration))};
  }
  void Toggle(int id) const { Send(Box(id), BM_CLICK); }
  bool End(int button) const {
    Click(GetDlgItem(dialog_, button));
    return harvesta_.WaitUntilGone("Boot Settings");
  }
  bool CloseBox() const {
    PostMessageW(dialog_, WM_CLOSE, 0, 0);
    return harvesta_.WaitUntilGone("Boot Settings");
  }

 private:
  const HarvestaProcess& harvesta_;
  HWND dialog_ = nullptr;
};

// The four flags start on, come back as confirmed with OK, and stay as they were after Cancel or
// the close box.
TEST(MainDialog, BootSettingsChangeTheFourFlagsOnlyOnOK) {
  HarvestaProcess harvesta;
  ASSERT_EQ(harvesta.Error(), "");
  Send(harvesta.Item(kBootable), BM_CLICK);
  ASSERT_TRUE(IsWindowEnabled(harvesta.Item(kAdvanced)));
  {
    const BootSettings settings(harvesta);
    ASSERT_NE(settings.Dialog(), nullptr);
    const std::pair<int, const char*> texts[] = {
        {kMarkActive, "Mark the destination partition 'Active'"},
        {kReplaceDiskId, "Replace the destination Disk ID "},
        {kReplaceBootSector, "Replace the destination partition boot sector"},
        {kUpdateBootConfiguration, "Update the Boot Configuration Database"},
        {IDOK, "OK"},
        {IDCANCEL, "Cancel"}};
    for (const auto& [id, text] : texts) {
      EXPECT_EQ(Text(settings.Box(id)), text);
      EXPECT_TRUE(IsWindowEnabled(settings.Box(id))) << id;
    }
    EXPECT_EQ(settings.Flags(), (BootFlags{true, true, true, true}));
    Screenshot(settings.Dialog(), "boot-settings");
    settings.Toggle(kReplaceDiskId);
    settings.Toggle(kUpdateBootConfiguration);
    ASSERT_TRUE(settings.End(IDOK));
  }
  {
    const BootSettings settings(harvesta);
    ASSERT_NE(settings.Dialog(), nullptr);
    EXPECT_EQ(settings.Flags(), (BootFlags{true, false, true, false}));
    settings.Toggle(kMarkActive);
    settings.Toggle(kReplaceDiskId);
    ASSERT_TRUE(settings.End(IDCANCEL));
  }
  {
    const BootSettings settings(harvesta);
    ASSERT_NE(settings.Dialog(), nullptr);
    EXPECT_EQ(settings.Flags(), (BootFlags{true, false, true, false}));
    settings.Toggle(kReplaceBootSector);
    ASSERT_TRUE(settings.CloseBox());
  }
  {
    const BootSettings settings(harvesta);
    ASSERT_NE(settings.Dialog(), nullptr);
    EXPECT_EQ(settings.Flags(), (BootFlags{true, false, true, false}));
    ASSERT_TRUE(settings.End(IDCANCEL));
  }
  EXPECT_EQ(harvesta.Close(), 0);
}

}  // namespace
