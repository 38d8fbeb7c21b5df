#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "command_template.h"
#include "recording_ui.h"
#include "robocopy_runner_win32.h"
#include "wine_files.h"

namespace {

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The system's own robocopy, found by the command line's search. Wine 8's is a stub that
// copies nothing and ends with 16, one of robocopy's failure codes: a finished run all the same.
TEST(RunRobocopy, StartsTheSystemsRobocopyAndSavesTheTemplate) {
  TestFolder folder("robocopy");
  const std::string source = folder.Path() + "src", destination = folder.Path() + "dst\\";
  CreateDirectoryA(source.c_str(), nullptr);
  ASSERT_EQ(source.substr(0, 3), "C:\\");
  const std::string commandTemplate = "robocopy <SRC>" + source.substr(3) + " <DST> /E";
  RecordingUi ui;
  const RobocopyRun run = RunRobocopy(ui, {commandTemplate, true, destination, 'C', folder.Path()});
  EXPECT_TRUE(run.Ran);
  EXPECT_FALSE(run.Cancelled);
  EXPECT_GE(run.Result, 0);
  EXPECT_EQ(uint32_t(run.Result), run.ExitCode);
  EXPECT_EQ(Text(ReadBytes(folder.Path() + kSettingsFileName)), commandTemplate);
  EXPECT_EQ(ui.WaitKinds, std::vector<WaitKind>{WaitKind::WithCancel});
  EXPECT_EQ(ui.Wait.Titles, std::vector<std::string>{"Copying..."});
  EXPECT_TRUE(ui.Wait.Marquee);
  EXPECT_FALSE(ui.Wait.Open) << "the wait window outlives the copy";
}

// The command line the process gets, for the default template's options and for one typed
// without placeholders: every "<SRC>" and "<DST>" replaced, "<src>" left alone; the exit code
// of the process is the result. This program stands in for robocopy.
TEST(RunRobocopy, StartsTheSubstitutedLineAndReturnsItsExitCode) {
  TestFolder folder("robocopy-line");
  const std::string record = folder.Path() + "line.txt";
  const std::string head = "\"" + ThisProgramPath() + "\" --record \"" + record + "\" 7 ";
  const std::string defaultOptions(kDefaultCommandTemplate.substr(std::string_view("robocopy ").size()));
  const struct {
    std::string commandTemplate, line;
  } cases[] = {
      {head + defaultOptions,
       head + "X:\\ E:\\ /COPYALL /E /R:0 /W:0 /B /XJ /NP /LOG:E:\\Harvesta.txt /TEE "
              "/XD \"X:\\System Volume Information\" /XF pagefile.sys hiberfil.sys"},
      {head + "<src> <dst> <Src>", head + "<src> <dst> <Src>"},
      {head + "plain", head + "plain"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.commandTemplate);
    RecordingUi ui;
    const RobocopyRun run = RunRobocopy(ui, {c.commandTemplate, false, "E:\\", 'X', folder.Path()});
    EXPECT_EQ(run.Result, 7);
    EXPECT_TRUE(run.Ran);
    EXPECT_EQ(Text(ReadBytes(record)), c.line);
    EXPECT_EQ(Text(ReadBytes(folder.Path() + kSettingsFileName)), c.commandTemplate);
  }
}

TEST(RunRobocopy, ACommandThatCannotStartIsMinusOne) {
  TestFolder folder("robocopy-missing");
  RecordingUi ui;
  const RobocopyRun run = RunRobocopy(ui, {"robocopyy <SRC> <DST>", false, "E:\\", 'X', folder.Path()});
  EXPECT_EQ(run.Result, -1);
  EXPECT_FALSE(run.Ran);
  EXPECT_FALSE(ui.Wait.Open);
  // The template is saved before the start is tried.
  EXPECT_EQ(Text(ReadBytes(folder.Path() + kSettingsFileName)), "robocopyy <SRC> <DST>");
}

TEST(RunRobocopy, CancelEndsTheCommandWithNineAndResultZero) {
  TestFolder folder("robocopy-cancel");
  RecordingUi ui;
  ui.Wait.CancelAfterPumps = 1;
  const RobocopyRun run = RunRobocopy(ui, {"\"" + ThisProgramPath() + "\" --hang", true, "E:\\", 'X', folder.Path()});
  EXPECT_TRUE(run.Ran);
  EXPECT_TRUE(run.Cancelled);
  EXPECT_EQ(run.Result, 0);
  EXPECT_EQ(run.ExitCode, kCancelledExitCode);
  EXPECT_GE(ui.Wait.CancelEnabled, 1) << "Cancel stays usable while the command is being ended";
}

// A settings folder that cannot be written does not stop the copy.
TEST(RunRobocopy, AnUnwritableSettingsFolderIsSkipped) {
  TestFolder folder("robocopy-nosettings");
  const std::string record = folder.Path() + "line.txt";
  RecordingUi ui;
  const RobocopyRun run = RunRobocopy(
      ui, {"\"" + ThisProgramPath() + "\" --record \"" + record + "\" 0", true, "E:\\", 'X', folder.Path() + "none\\"});
  EXPECT_EQ(run.Result, 0);
  EXPECT_TRUE(run.Ran);
  EXPECT_TRUE(PathExists(record));
  EXPECT_FALSE(PathExists(folder.Path() + "none"));
}

}  // namespace
