// A whole restore as a user runs it: a password-protected image, the password dialog (wrong
// twice, then right), and a command that hashes the mounted partition. Wine mounts no file
// system on the virtual drive, so the command is volume_md5 (HARVESTA_VOLUME_MD5), which reads the
// raw volume through the driver that Harvesta installed from its own resources.
#include <windows.h>

#include <gtest/gtest.h>

#include "dialog_ids.h"
#include "harvesta_process.h"
#include "md5.h"
#include "remote_window.h"
#include "test_images.h"
#include "volume_md5.h"
#include "wine_files.h"

namespace {

constexpr char kPasswordCaption[] = "Confirm Password";

// Drive letters that still name one of the driver's devices.
std::vector<char> VirtualDriveLetters() {
  std::vector<char> letters;
  for (char letter = 'D'; letter <= 'Z'; ++letter) {
    const char name[] = {letter, ':', '\0'};
    char target[MAX_PATH] = "";
    if (QueryDosDeviceA(name, target, sizeof target) && std::string(target).find("Vaultdisk") != std::string::npos)
      letters.push_back(letter);
  }
  return letters;
}

// The kernel service's state and the driver file it runs.
struct DriverService {
  DWORD State = 0;
  std::string BinaryPath;
};

DriverService QueryDriverService() {
  DriverService found;
  const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  const SC_HANDLE service =
      manager ? OpenServiceA(manager, "Vaultdisk", SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS) : nullptr;
  SERVICE_STATUS status{};
  if (service && QueryServiceStatus(service, &status)) found.State = status.dwCurrentState;
  DWORD needed = 0;
  QueryServiceConfigA(service, nullptr, 0, &needed);
  std::vector<uint8_t> buffer(needed + sizeof(QUERY_SERVICE_CONFIGA));
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  if (service && QueryServiceConfigA(service, config, DWORD(buffer.size()), &needed) && config->lpBinaryPathName)
    found.BinaryPath = config->lpBinaryPathName;
  if (service) CloseServiceHandle(service);
  if (manager) CloseServiceHandle(manager);
  return found;
}

bool EndsWithIgnoringCase(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && lstrcmpiA(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
}

std::vector<std::string> ChildTexts(HWND dialog, const char* className) {
  std::vector<std::string> texts;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if (ClassName(child) == className) texts.push_back(Text(child));
  return texts;
}

TEST(Restore, AsksForThePasswordUntilItIsRightThenTheCommandReadsTheMountedPartition) {
  const std::string hasher = PathFromEnvironment("HARVESTA_VOLUME_MD5");
  ASSERT_NE(hasher, "");
  const TestImage image = MakeTestImage({"gui-restore-aes256", 6, 1, BlockMethod::Alternate, 3, 0, 0, 16384});
  ASSERT_EQ(image.Error, "");
  const TestFolder output("harvesta-gui-restore");
  const std::string digestFile = output.Path() + "volume.md5";

  HarvestaProcess harvesta;
  ASSERT_EQ(harvesta.Error(), "");
  // Started from the program's own resources, written next to it.
  const std::string driverFile = HarvestaProcess::Folder() + "vaultdisk.sys";
  const DriverService service = QueryDriverService();
  EXPECT_EQ(service.State, DWORD(SERVICE_RUNNING));
  EXPECT_TRUE(EndsWithIgnoringCase(service.BinaryPath, driverFile)) << service.BinaryPath;
  EXPECT_TRUE(PathExists(driverFile));
  ASSERT_EQ(harvesta.Browse(image.Files.back()), "");
  ASSERT_EQ(ListRows(harvesta.Item(kImageList)).size(), 1u);
  for (int box : {kRunCopy, kHideOutput}) Send(harvesta.Item(box), BM_CLICK);
  // A pause first, so that the wait window stays long enough to be seen.
  SetText(harvesta.Item(kCommand), "cmd /c ping -n 3 127.0.0.1 >nul & \"" + hasher + "\" <SRC> " + digestFile);
  Click(harvesta.Item(IDOK));

  const HWND password = harvesta.WaitForDialog(kPasswordCaption);
  ASSERT_NE(password, nullptr);
  EXPECT_EQ(ChildTexts(password, "Static"),
            (std::vector<std::string>{"The backup image you are trying to open has been pasword protected.",
                                      "To continue with this operation you must enter the correct password.",
                                      "Note: Passswords are case sensitive"}));
  const HWND entry = GetDlgItem(password, kPassword);
  EXPECT_NE(GetWindowLongA(entry, GWL_STYLE) & ES_PASSWORD, 0);
  // While the restore runs, Start and Close stay disabled.
  EXPECT_FALSE(IsWindowEnabled(harvesta.Item(IDOK)));
  EXPECT_FALSE(IsWindowEnabled(harvesta.Item(IDCANCEL)));

  std::string lowerCase = kTestImagePassword;
  for (char& c : lowerCase) c = char(tolower(c));
  bool firstShot = true;
  for (const std::string& wrong : {std::string("wrong password"), lowerCase}) {
    SCOPED_TRACE(wrong);
    SetText(entry, wrong);
    if (firstShot) Screenshot(password, "password-dialog");
    Click(GetDlgItem(password, IDOK));
    EXPECT_EQ(harvesta.AnswerMessage(firstShot ? "message-incorrect-password" : ""), "Incorrect Password entered");
    firstShot = false;
    EXPECT_TRUE(IsWindow(password));
  }
  SetText(entry, kTestImagePassword);
  Click(GetDlgItem(password, IDOK));
  ASSERT_TRUE(harvesta.WaitUntilGone(kPasswordCaption));

  // The wait window holds the main dialog while the command runs, and offers to cancel it.
  const HWND copying = harvesta.WaitForDialog("Copying...");
  ASSERT_NE(copying, nullptr);
  EXPECT_FALSE(IsWindowEnabled(harvesta.Dialog()));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(copying, IDCANCEL)));
  Screenshot(copying, "wait-copying");
  // Mounted, hashed, unmounted: the report names no log file.
  EXPECT_EQ(harvesta.AnswerMessage("message-restore-finished"), "Finished");
  const std::vector<uint8_t> written = ReadBytes(digestFile);
  EXPECT_EQ(std::string(written.begin(), written.end()), HexDigest(Md5(image.Volume.data(), image.Volume.size())));
  EXPECT_EQ(VirtualDriveLetters(), std::vector<char>{});
  EXPECT_TRUE(IsWindowEnabled(harvesta.Item(IDOK)));
  EXPECT_TRUE(IsWindowEnabled(harvesta.Item(IDCANCEL)));
  EXPECT_EQ(harvesta.Close(), 0);
  RemoveTestImage(image);
}

// Space marks the current row for a drive letter; a protected image asks for its password first,
// and a cancelled prompt leaves the row unmarked.
TEST(Restore, MarkingAProtectedRowAsksForThePasswordThenOffersTheFreeLetters) {
  const TestImage image = MakeTestImage({"gui-mark-aes256", 6, 0, BlockMethod::Method1, 3, 0, 0, 16384});
  ASSERT_EQ(image.Error, "");
  HarvestaProcess harvesta;
  ASSERT_EQ(harvesta.Error(), "");
  ASSERT_EQ(harvesta.Browse(image.Files.back()), "");
  const HWND list = harvesta.Item(kImageList);
  auto letterBox = [&] { return FindWindowExA(list, nullptr, "ComboBox", nullptr); };

  PostMessageW(list, WM_KEYDOWN, VK_SPACE, 0);
  HWND password = harvesta.WaitForDialog(kPasswordCaption);
  ASSERT_NE(password, nullptr);
  Click(GetDlgItem(password, IDCANCEL));
  ASSERT_TRUE(harvesta.WaitUntilGone(kPasswordCaption));
  harvesta.WaitUntilIdle();
  EXPECT_EQ(letterBox(), nullptr);

  PostMessageW(list, WM_KEYDOWN, VK_SPACE, 0);
  password = harvesta.WaitForDialog(kPasswordCaption);
  ASSERT_NE(password, nullptr);
  SetText(GetDlgItem(password, kPassword), kTestImagePassword);
  Click(GetDlgItem(password, IDOK));
  ASSERT_TRUE(harvesta.WaitUntilGone(kPasswordCaption));
  ASSERT_TRUE(WaitUntil([&] { return letterBox() != nullptr; }));
  std::vector<std::string> freeLetters;
  for (char letter = 'D'; letter <= 'Z'; ++letter) {
    const char name[] = {letter, ':', '\0'};
    char target[MAX_PATH];
    if (!QueryDosDeviceA(name, target, sizeof target)) freeLetters.push_back(name);
  }
  EXPECT_EQ(ComboEntries(letterBox()), freeLetters);
  EXPECT_EQ(ComboSelection(letterBox()), freeLetters.empty() ? "" : freeLetters.front());
  Screenshot(harvesta.Dialog(), "main-dialog-letter-drop-down");
  EXPECT_EQ(harvesta.Close(), 0);
  RemoveTestImage(image);
}

}  // namespace
