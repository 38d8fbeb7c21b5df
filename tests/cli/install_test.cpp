// cmake --install puts the command, its manual page and its bash completion where the system
// looks for them, and both cover everything the command's --help lists.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "help_text.h"

namespace fs = std::filesystem;

namespace {
class Installed : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    prefix_ = new fs::path(fs::temp_directory_path() / ("harvesta-install-" + std::to_string(std::random_device()())));
    installStatus_ = Run("'" CMAKE_COMMAND "' --install '" HARVESTA_BUILD_DIR "' --prefix '" + prefix_->string() + "'");
  }
  static void TearDownTestSuite() {
    fs::remove_all(*prefix_);
    delete prefix_;
  }
  // The exit status; standard output in *out.
  static int Run(const std::string& command, std::string* out = nullptr) {
    const fs::path output = fs::temp_directory_path() / ("harvesta-install-out-" + std::to_string(std::random_device()()));
    const int status = std::system(("(" + command + ") >'" + output.string() + "'").c_str());
    if (out) {
      std::ifstream in(output);
      *out = {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    fs::remove(output);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static std::string Help(const std::string& subcommand) {
    std::string help;
    Run("'" + (*prefix_ / "bin/harvesta").string() + "' " + subcommand + " --help", &help);
    return help;
  }
  // What bash completes for the words (the last one being completed) with the installed script.
  static std::string Completions(const std::string& words) {
    const std::string script =
        "source /usr/share/bash-completion/bash_completion; source '" +
        (*prefix_ / "share/bash-completion/completions/harvesta").string() +
        "'; COMP_WORDS=(" + words + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); "
        "COMP_LINE=\"${COMP_WORDS[*]}\"; COMP_POINT=${#COMP_LINE}; _harvesta; "
        "printf '%s\\n' \"${COMPREPLY[@]}\"";
    std::string out;
    EXPECT_EQ(Run("bash -c '" + Quoted(script) + "'", &out), 0) << words;
    return out;
  }
  static std::string Quoted(const std::string& text) {  // inside single quotes
    std::string out;
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out;
  }
  static fs::path* prefix_;
  static int installStatus_;
};
fs::path* Installed::prefix_ = nullptr;
int Installed::installStatus_ = -1;

TEST_F(Installed, CommandManualAndCompletionLandWhereTheSystemLooks) {
  ASSERT_EQ(installStatus_, 0);
  for (const char* file : {"bin/harvesta", "share/man/man1/harvesta.1", "share/bash-completion/completions/harvesta"})
    EXPECT_TRUE(fs::is_regular_file(*prefix_ / file)) << file;
  EXPECT_EQ(Run("'" + (*prefix_ / "bin/harvesta").string() + "' --version"), 0);
}

TEST_F(Installed, ManualRendersWithoutWarningsAndCoversEveryCommandOptionAndStatus) {
  ASSERT_EQ(installStatus_, 0);
  const std::string page = (*prefix_ / "share/man/man1/harvesta.1").string();
  std::string warnings;
  EXPECT_EQ(Run("MANWIDTH=80 man --warnings -l '" + page + "' 2>&1 >/dev/null", &warnings), 0);
  EXPECT_EQ(warnings, "");
  std::string text;
  ASSERT_EQ(Run("MANWIDTH=400 MAN_KEEP_FORMATTING=0 man -l '" + page + "' 2>/dev/null | col -b", &text), 0);
  const std::vector<std::string> subcommands = HelpSection(Help(""), "Subcommands:");
  ASSERT_FALSE(subcommands.empty());
  size_t options = 0;
  for (const std::string& subcommand : subcommands) {
    EXPECT_NE(text.find("   " + subcommand + " "), std::string::npos) << subcommand;
    for (const std::string& option : LongOptions(Help(subcommand))) {
      EXPECT_NE(text.find(option), std::string::npos) << subcommand << " " << option;
      ++options;
    }
  }
  EXPECT_GT(options, 25u) << "the options were not read from --help";
  for (const char* status : {"0", "1", "2", "3", "4", "5", "6", "130"})
    EXPECT_NE(text.find("\n       " + std::string(status) + "  "), std::string::npos) << "exit status " << status;
}

TEST_F(Installed, CompletionOffersEverySubcommandAndItsOptions) {
  ASSERT_EQ(installStatus_, 0);
  const std::string offered = Completions("harvesta ''");
  for (const std::string& subcommand : HelpSection(Help(""), "Subcommands:")) {
    EXPECT_NE(offered.find(subcommand + "\n"), std::string::npos) << subcommand;
    const std::string options = Completions("harvesta " + subcommand + " --");
    for (const std::string& option : LongOptions(Help(subcommand)))
      EXPECT_NE(options.find(option + "\n"), std::string::npos) << subcommand << " " << option;
  }
  EXPECT_EQ(Completions("harvesta make-image x.qvimg --method a"), "alternate\n");
}
}  // namespace
