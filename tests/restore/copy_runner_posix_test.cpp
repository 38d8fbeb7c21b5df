// The Linux copy runner with a command template: the folders it hands the shell, the exit
// status it reports, and Cancel ending the command's whole process group.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "copy_runner_posix.h"
#include "recording_ui.h"

namespace fs = std::filesystem;

namespace {

class NoNews : public TreeCopyObserver {
 public:
  void Copied(const std::string&) override {}
  void Problem(const std::string&, const std::string&) override {}
  void Progress(const TreeCopyProgress&) override {}
  bool Cancelled() override { return false; }
};

// A zombie counts as ended: its parent, the ended shell, is gone, and who reaps it is not ours.
bool Alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const size_t name = line.rfind(')');
  return name != std::string::npos && name + 2 < line.size() && line[name + 2] != 'Z';
}

class PosixCopyRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("harvesta-runner-" + std::to_string(std::random_device()()));
    fs::create_directories(root_ / "source" / "inner");
    fs::create_directories(root_ / "destination");
    std::ofstream(root_ / "source" / "inner" / "a.txt") << "alpha";
  }
  void TearDown() override { fs::remove_all(root_); }

  CopyCommandResult Run(const std::string& commandTemplate) {
    const FolderOfLetter folders = [this](char letter) -> std::string {
      if (letter == 'D') return (root_ / "source").string();
      if (letter == 'T') return (root_ / "destination").string();
      return "";
    };
    runner_ = std::make_unique<PosixCopyRunner>(folders, news_);
    return runner_->RunCopy({commandTemplate, true, "T:\\", 'D'}, ui_);
  }

  fs::path root_;
  NoNews news_;
  RecordingUi ui_;
  std::unique_ptr<PosixCopyRunner> runner_;
};

TEST_F(PosixCopyRunnerTest, TemplateGetsBothFoldersWithTrailingSlash) {
  const CopyCommandResult result = Run("cp -a <SRC>. <DST>");
  EXPECT_EQ(result.Result, 0);
  EXPECT_TRUE(result.Ran);
  EXPECT_FALSE(result.Cancelled);
  EXPECT_EQ(runner_->Outcome().CommandLine, "cp -a " + (root_ / "source").string() + "/. " +
                                                (root_ / "destination").string() + "/");
  std::ifstream copied(root_ / "destination" / "inner" / "a.txt");
  std::string text;
  copied >> text;
  EXPECT_EQ(text, "alpha");
  EXPECT_EQ(ui_.WaitKinds, std::vector<WaitKind>{WaitKind::WithCancel});
  EXPECT_FALSE(ui_.Wait.Open);
}

TEST_F(PosixCopyRunnerTest, ReportsTheCommandsExitStatus) {
  struct Case {
    const char* Template;
    int Status;
  } cases[] = {{"exit 3", 3}, {"kill -KILL $$", 128 + SIGKILL}, {"no-such-command-here", 127}};
  for (const Case& c : cases) {
    const CopyCommandResult result = Run(c.Template);
    EXPECT_EQ(result.Result, c.Status) << c.Template;
    EXPECT_EQ(runner_->Outcome().ExitCode, c.Status) << c.Template;
    EXPECT_TRUE(result.Ran) << c.Template;
  }
}

TEST_F(PosixCopyRunnerTest, NotStartedWithoutTheFolders) {
  const FolderOfLetter none = [](char) { return std::string{}; };
  PosixCopyRunner runner(none, news_);
  const CopyCommandResult result = runner.RunCopy({"true", true, "T:\\", 'D'}, ui_);
  EXPECT_EQ(result.Result, kCopyNotStarted);
  EXPECT_FALSE(result.Ran);
}

// A shell with children of its own, one of which ignores SIGTERM: nothing of it may outlive
// the cancelled copy.
TEST_F(PosixCopyRunnerTest, CancelEndsTheWholeProcessGroup) {
  const fs::path pids = root_ / "pids";
  ui_.Wait.CancelAfterPumps = 3;
  const CopyCommandResult result =
      Run("sleep 600 & echo $! > " + pids.string() + "; (trap '' TERM; exec sleep 600) & echo $! >> " +
          pids.string() + "; wait");
  EXPECT_TRUE(result.Cancelled);
  EXPECT_TRUE(result.Ran);
  EXPECT_EQ(result.Result, 0);
  EXPECT_GE(ui_.Wait.CancelEnabled, 1);
  std::ifstream in(pids);
  int count = 0;
  for (pid_t pid; in >> pid; ++count) {
    for (int i = 0; i < 100 && Alive(pid); ++i) usleep(20000);  // a SIGKILL takes effect at once
    EXPECT_FALSE(Alive(pid)) << pid;
  }
  EXPECT_EQ(count, 2);
}

}  // namespace
