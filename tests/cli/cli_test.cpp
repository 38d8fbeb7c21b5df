// harvesta make-image, list, verify and export, run as a user runs them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>

#include "help_text.h"
#include "md5.h"

namespace fs = std::filesystem;

namespace {
struct Outcome {
  int Status;
  std::string Out, Err;
};

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("harvesta-cli-" + std::to_string(std::random_device()()));
    fs::create_directories(folder_);
    std::mt19937 random(9);
    std::string bytes(300000, '\0');
    for (size_t i = 100000; i < bytes.size(); ++i) bytes[i] = static_cast<char>(random());
    Write("a.raw", bytes);
    Write("b.raw", std::string(70000, 'b'));
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string File(const std::string& name) const { return (folder_ / name).string(); }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(File(name), std::ios::binary) << bytes;
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // before: shell words ahead of the command, such as a ulimit; input: its standard input.
  Outcome Harvesta(const std::string& arguments, const std::string& before = "",
                   const std::string& input = "") {
    Write("in.txt", input);
    std::string command = "cd '" + folder_.string() + "' && " + before + " TZ=UTC " + program_ + " " +
                          arguments + " <in.txt >out.txt 2>err.txt";
    int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Read(folder_ / "out.txt"),
            Read(folder_ / "err.txt")};
  }

  // The words ahead of a command run as another user. The build's own folder may be closed to
  // other users (a checkout in a private folder), so from then on the test runs a copy of the
  // command kept in its own folder.
  std::string AsNobody() {
    const fs::path copy = folder_ / "bin" / "harvesta";
    if (!fs::exists(copy)) {
      fs::create_directories(copy.parent_path());
      fs::copy_file(HARVESTA_COMMAND, copy);
    }
    program_ = copy.string();
    return "setpriv --reuid=65534 --regid=65534 --clear-groups env";
  }

  fs::path folder_;
  std::string program_ = HARVESTA_COMMAND;
};

using Bytes = std::string;

size_t Find(const Bytes& bytes, const void* pattern, size_t length) {
  size_t at = bytes.find(std::string(static_cast<const char*>(pattern), length));
  EXPECT_NE(at, std::string::npos) << "fixture: pattern not found";
  return at == std::string::npos ? 0 : at;
}

template <typename T>
void Put(Bytes& bytes, size_t at, T value) {
  std::memcpy(bytes.data() + at, &value, sizeof value);  // little-endian, as the files are
}

// Whether shape matches text at at: '~' stands for a run of digits and dots (a figure).
bool ShapeAt(const std::string& text, size_t at, const std::string& shape) {
  auto figure = [](char c) { return (c >= '0' && c <= '9') || c == '.'; };
  for (char c : shape) {
    if (c != '~') {
      if (at >= text.size() || text[at++] != c) return false;
      continue;
    }
    const size_t start = at;
    while (at < text.size() && figure(text[at])) ++at;
    if (at == start) return false;
  }
  return true;
}
// One error line ending in message (whatever the command puts ahead of its errors).
bool OneErrorLine(const std::string& text, const std::string& message) {
  return text.size() >= message.size() &&
         text.compare(text.size() - message.size(), message.size(), message) == 0 &&
         text.find('\n') == text.size() - 1;
}
bool HasShape(const std::string& text, const std::string& shape) {
  for (size_t at = 0; at < text.size(); ++at)
    if (ShapeAt(text, at, shape)) return true;
  return false;
}

std::string Md5Hex(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t byte : Md5(bytes.data(), bytes.size()))
    hex += {kDigits[byte >> 4], kDigits[byte & 15]};
  return hex;
}

// Where the partition's block table begins in its catalogue: its raw region's digest, which is
// followed by the block count and preceded by the raw region's file and offset.
size_t RawDigestAt(const Bytes& image, const Bytes& rawRegion) {
  Digest digest = Md5(rawRegion.data(), rawRegion.size());
  return Find(image, digest.data(), digest.size());
}

TEST_F(Cli, ListJsonDescribesEveryPartitionInListOrder) {
  Outcome made = Harvesta(
      "make-image img.qvimg -p a.raw,letter=c,label=System,raw=8192,free=65536,major=1"
      " -p b.raw,disk=1,type=0x83,label=Data --compression 2 --method alternate"
      " --password 'caf\xC3\xA9' --cipher 2 --time 1700000000 --id 0123456789ABCDEF --ebr 1");
  ASSERT_EQ(made.Status, 0) << made.Err;
  EXPECT_EQ(made.Out, "img.qvimg\n");

  Outcome listed = Harvesta("list img.qvimg --json");
  ASSERT_EQ(listed.Status, 0) << listed.Err;
  auto rows = nlohmann::json::parse(listed.Out).at("partitions");
  ASSERT_EQ(rows.size(), 2u);
  // Equal times: ordered by major x 100 + minor, so disk 1's partition (major 0) comes first.
  EXPECT_EQ(rows[0]["label"], "Data");
  EXPECT_EQ(rows[0]["disk"], 1);
  EXPECT_EQ(rows[0]["file_system"], "ext2/3");
  EXPECT_EQ(rows[0]["drive_letter"], nullptr);
  const auto& system = rows[1];
  EXPECT_EQ(system["row"], 2);
  EXPECT_EQ(system["disk"], 0);
  EXPECT_EQ(system["partition"], 0);
  EXPECT_EQ(system["drive_letter"], "C:");
  EXPECT_EQ(system["original_location"], "System (C:)");
  EXPECT_EQ(system["backup_time"], 1700000000);
  EXPECT_EQ(system["backup_date"], "2023-11-14 22:13");
  EXPECT_EQ(system["backup_id"], "0123456789ABCDEF");
  EXPECT_EQ(system["capacity"], 299008);  // whole 4 KiB clusters
  EXPECT_EQ(system["free"], 65536);
  EXPECT_EQ(system["used"], 299008 - 65536);
  EXPECT_EQ(system["partition_type"], 7);
  EXPECT_EQ(system["compression"], 2);
  EXPECT_EQ(system["files"], 1);
  EXPECT_EQ(system["intelligent_sector_copy"], true);
  EXPECT_EQ(system["password_protected"], true);
  EXPECT_EQ(system["cipher_type"], 2);
  EXPECT_EQ(system["image_file"], "img.qvimg");
}

TEST_F(Cli, ListTableShowsTheColumnsWithRowNumbers) {
  ASSERT_EQ(Harvesta("make-image t.qvimg -p b.raw,label=Data --full-copy").Status, 0);
  Outcome listed = Harvesta("list t.qvimg");
  ASSERT_EQ(listed.Status, 0) << listed.Err;
  std::istringstream lines(listed.Out);
  std::string header, row, extra;
  std::getline(lines, header);
  std::getline(lines, row);
  EXPECT_FALSE(std::getline(lines, extra));
  for (const char* column : {"Original location", "Backup Date", "Backup ID", "Capacity", "Used Space",
                             "Free Space", "File System", "Compression", "No. of files",
                             "Intelligent Sector Copy"})
    EXPECT_NE(header.find(column), std::string::npos) << column;
  EXPECT_EQ(row.rfind("1  Data", 0), 0u) << row;
  EXPECT_NE(row.find("NTFS"), std::string::npos);
  EXPECT_NE(row.find("None"), std::string::npos);
}

TEST_F(Cli, ListEscapesControlCharactersOfLabelsInItsTable) {
  ASSERT_EQ(Harvesta("make-image t.qvimg -p 'b.raw,label=\x1b]0;owned\x07\tX'").Status, 0);
  Outcome listed = Harvesta("list t.qvimg");
  ASSERT_EQ(listed.Status, 0) << listed.Err;
  EXPECT_NE(listed.Out.find("\\x1b]0;owned\\x07\\x09X"), std::string::npos) << listed.Out;
  EXPECT_EQ(listed.Out.find_first_of("\x1b\x07\t"), std::string::npos);
  Outcome json = Harvesta("list t.qvimg --json");
  EXPECT_EQ(nlohmann::json::parse(json.Out)["partitions"][0]["label"], "\x1b]0;owned\x07\tX");
}

// Bad usage of restore is refused before the image is opened or the target touched.
TEST_F(Cli, RestoreRefusesBadUsage) {
  fs::create_directories(File("folder"));
  struct Case {
    const char* Arguments;
    const char* Error;
  } cases[] = {
      {"--to folder --cluster-size 4096", "--cluster-size needs --format\n"},
      {"--to folder --format ntfs --cluster-size 3000",
       "--cluster-size takes 512, 1024, 2048, 4096, 8192, 16384 or 32768\n"},
      {"--to folder --format exfat", "--format takes ntfs or fat32\n"},
      {"--to folder --no-bcd", "--no-active, --no-disk-id, --no-boot-sector and --no-bcd need --bootable\n"},
      {"--to folder --bootable", "is a folder: --format and --bootable need a block device"},
      {"--to missing-target", "missing-target"},
  };
  for (const Case& c : cases) {
    Outcome run = Harvesta(std::string("restore missing.qvimg --partition 1 ") + c.Arguments);
    EXPECT_EQ(run.Status, 2) << c.Arguments;
    EXPECT_NE(run.Err.find(c.Error), std::string::npos) << c.Arguments << ": " << run.Err;
    EXPECT_EQ(run.Out, "") << c.Arguments;
  }
}

TEST_F(Cli, ListJsonGivesTheImageFilePathAsTheHostNamesIt) {
  for (const char* name : {"caf\xC3\xA9.qvimg", "caf\xE9.qvimg"}) {  // UTF-8, then not UTF-8
    ASSERT_EQ(Harvesta(std::string("make-image '") + name + "' -p b.raw").Status, 0) << name;
    Outcome listed = Harvesta(std::string("list '") + name + "' --json");
    ASSERT_EQ(listed.Status, 0) << listed.Err;
    std::string shown = nlohmann::json::parse(listed.Out)["partitions"][0]["image_file"];
    EXPECT_EQ(shown, name[3] == '\xC3' ? name : "caf\xEF\xBF\xBD.qvimg");  // U+FFFD for the stray byte
    fs::remove(File(name));
  }
}

// Beside a good image: a FIFO named like an image, which once blocked every command, and a
// sparse terabyte whose first string claims 4 GiB of its hole, which once ran out of memory.
TEST_F(Cli, ListOfAnImageSkipsCompanionsThatAreNotRegularOrDefeatTheReader) {
  ASSERT_EQ(Harvesta("make-image good.qvimg -p b.raw,label=Good").Status, 0);
  ASSERT_EQ(mkfifo(File("pipe.qvimg").c_str(), 0600), 0);
  Write("sparse.qvimg", std::string(12, '\0') + "\xFF\xFF\xFF\xF0\xFF\xFF\xFF");
  const uint64_t size = uint64_t{1} << 40;
  fs::resize_file(File("sparse.qvimg"), size - 40);
  std::ofstream(File("sparse.qvimg"), std::ios::binary | std::ios::app)
      << std::string("__79241006_2651_11D4_") << '\0';
  fs::resize_file(File("sparse.qvimg"), size);

  Outcome listed = Harvesta("list good.qvimg --json");
  ASSERT_EQ(listed.Status, 0) << listed.Err;
  EXPECT_EQ(nlohmann::json::parse(listed.Out)["partitions"][0]["label"], "Good");
  Outcome pipe = Harvesta("list pipe.qvimg");
  EXPECT_EQ(pipe.Err, "harvesta: 'pipe.qvimg' is not a regular file\n");
}

TEST_F(Cli, SplitSetListsUntilAFileGoesMissing) {
  Outcome made = Harvesta("make-image set.QVBAK -p a.raw --split 60000");
  ASSERT_EQ(made.Status, 0) << made.Err;
  EXPECT_EQ(made.Out, "set.QVBAK\nset-01.QVBAK\nset-02.QVBAK\nset-03.QVBAK\n");
  EXPECT_EQ(Harvesta("list set.QVBAK --json").Status, 0);
  fs::remove(folder_ / "set-01.QVBAK");
  Outcome listed = Harvesta("list set-03.QVBAK");
  EXPECT_EQ(listed.Status, 1);
  EXPECT_EQ(listed.Err, "harvesta: the backup of 'set-03.QVBAK' lacks a file: 'set-01.QVBAK' is missing\n");
}

// A version-4 file may carry the digest of its version-3 form; no other version may, and a
// digest that matches neither form is a mismatch.
TEST_F(Cli, VerifyTakesTheVersion3DigestOfAVersion4File) {
  ASSERT_EQ(Harvesta("make-image v4.qvimg -p a.raw --format-version 4 --version-3-digest").Status, 0);
  Outcome verified = Harvesta("verify v4.qvimg");
  EXPECT_EQ(verified.Status, 0) << verified.Err;
  EXPECT_NE(verified.Out.find("v4.qvimg: catalogue digest ok"), std::string::npos) << verified.Out;

  auto patch = [&](const std::string& name, std::streamoff fromEnd, char value) {
    std::fstream file(File(name), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(fromEnd, std::ios::end);
    file.put(value);
  };
  fs::create_directory(File("copy"));  // a folder of its own: one file per set and number
  fs::copy_file(File("v4.qvimg"), File("copy/v6.qvimg"));
  patch("copy/v6.qvimg", -18, 6);  // the trailer's version: the same catalogue read as version 6
  Outcome asVersion6 = Harvesta("verify copy/v6.qvimg");
  EXPECT_EQ(asVersion6.Status, 4);
  EXPECT_NE(asVersion6.Err.find("v6.qvimg: digest mismatch"), std::string::npos) << asVersion6.Err;

  std::string digest = Read(File("v4.qvimg")).substr(fs::file_size(File("v4.qvimg")) - 16);
  patch("v4.qvimg", -1, static_cast<char>(digest.back() ^ 1));
  Outcome flipped = Harvesta("verify v4.qvimg");
  EXPECT_EQ(flipped.Status, 4);
  EXPECT_NE(flipped.Err.find("v4.qvimg: digest mismatch"), std::string::npos) << flipped.Err;

  EXPECT_EQ(Harvesta("make-image v6.qvimg -p a.raw --version-3-digest").Status, 1);
}

// Each case damages one thing in a fresh image (a.raw, 8192-byte raw region of zeros) and
// names what verify must say about it. Hostile lengths run under a 1 GiB address-space limit,
// so that allocating what the image claims fails the case.
TEST_F(Cli, VerifyNamesEachDamageAndNeverTrustsALength) {
  const Bytes raw(8192, '\0');
  struct Case {
    const char* Name;
    const char* Version;
    std::function<void(Bytes&)> Damage;
    int Status;
    const char* Out;  // in stdout
    const char* Err;  // in stderr, "" when none is expected
  } cases[] = {
      {"v3 intact", "3", [](Bytes&) {}, 0, "v.qvimg: catalogue digest ok", ""},
      {"v2 intact", "2", [](Bytes&) {}, 0, "v.qvimg: catalogue digest not checked", ""},
      {"v3 digest byte flipped", "3", [](Bytes& b) { b.back() ^= 1; }, 4,
       "catalogue digest mismatch", "v.qvimg: digest mismatch"},
      {"boot area damaged", "2", [](Bytes& b) { b[100] ^= 1; }, 4, "partition 1: 1 blocks, DAMAGED",
       "partition 1 raw region: MD5 mismatch"},
      {"3 GiB raw region in a small file", "2",
       [](Bytes& b) {
         // Extents: region start 1 MiB, volume length, block area start.
         uint64_t extents[] = {1u << 20, 16384, (1u << 20) + 8192};
         size_t at = Find(b, extents, sizeof extents);
         Put<uint64_t>(b, at + 8, (3ull << 30) + 16384);
         Put<uint64_t>(b, at + 16, (1u << 20) + (3ull << 30));
       },
       4, "DAMAGED", "partition 1 raw region: runs past the end of its image file"},
  };
  Write("small.raw", std::string(16384, 'x').replace(0, 8192, raw));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::remove_all(File("v"));
    fs::create_directory(File("v"));
    ASSERT_EQ(Harvesta(std::string("make-image v/v.qvimg -p small.raw,raw=8192 --format-version ") + c.Version).Status, 0);
    Bytes image = Read(File("v/v.qvimg"));
    c.Damage(image);
    Write("v/v.qvimg", image);
    Outcome verified = Harvesta("verify -q v/v.qvimg", "ulimit -v 1048576;");
    EXPECT_EQ(verified.Status, c.Status) << verified.Err;
    EXPECT_NE(verified.Out.find(c.Out), std::string::npos) << verified.Out;
    EXPECT_NE(verified.Err.find(c.Err), std::string::npos) << verified.Err;
    if (c.Status == 0) {
      EXPECT_EQ(verified.Err, "");
    }
  }
}

// A block count that runs past the end of the file: the index is a problem of its partition;
// the other partition is still checked, and nothing is allocated by the count.
TEST_F(Cli, VerifyReportsABlockIndexRunningPastTheFile) {
  ASSERT_EQ(Harvesta("make-image i.qvimg -p b.raw,raw=4096 -p a.raw,raw=8192").Status, 0);
  Bytes image = Read(File("i.qvimg"));
  Put<uint32_t>(image, RawDigestAt(image, Bytes(8192, '\0')) + 16, 0x7FFFFFFF);
  Write("i.qvimg", image);
  Outcome verified = Harvesta("verify i.qvimg --json", "ulimit -v 1048576;");
  if (verified.Err.find("is corrupt") != std::string::npos)
    GTEST_SKIP() << "this reader refuses such a file: " << verified.Err;
  EXPECT_EQ(verified.Status, 4) << verified.Err;
  auto partitions = nlohmann::json::parse(verified.Out).at("partitions");
  int damaged = 0;
  for (const auto& partition : partitions) {
    if (partition["ok"]) continue;
    ++damaged;
    const auto& problem = partition["problems"].at(0);
    EXPECT_EQ(problem["where"], "partition " + std::to_string(partition["row"].get<int>()) + " block index");
    EXPECT_NE(problem["problem"].get<std::string>().find("runs past the end"), std::string::npos) << problem;
  }
  EXPECT_EQ(damaged, 1) << partitions;
}

// The accepted password is kept on the image, and the records of all its partitions are built
// from it; a wrong one ends the verify before anything is checked.
TEST_F(Cli, VerifyOfAnEncryptedImageChecksEveryPartitionWithItsPassword) {
  ASSERT_EQ(Harvesta("make-image e.qvimg -p a.raw,raw=8192 -p b.raw --compression 1 --password 'caf\xC3\xA9'").Status, 0);
  Write("right.txt", "caf\xC3\xA9\r\n");
  Write("wrong.txt", "cafe\n");
  Outcome verified = Harvesta("verify -q e.qvimg --password-file right.txt");
  EXPECT_EQ(verified.Status, 0) << verified.Err;
  EXPECT_NE(verified.Out.find("partition 1: 5 blocks, ok\npartition 2: 2 blocks, ok\n"), std::string::npos)
      << verified.Out;
  EXPECT_EQ(verified.Err, "");
  Outcome wrong = Harvesta("verify e.qvimg --password-file wrong.txt");
  EXPECT_EQ(wrong.Status, 3);
  EXPECT_EQ(wrong.Err, "harvesta: wrong password for e.qvimg\n");
}

// The output may be another name of a file the export reads: refused before anything is
// written, and the backup stays as it was.
TEST_F(Cli, ExportRefusesToWriteOverAFileOfTheBackup) {
  ASSERT_EQ(Harvesta("make-image set.qvimg -p a.raw --split 60000").Status, 0);
  std::vector<std::string> set;
  for (const auto& entry : fs::directory_iterator(folder_))
    if (entry.path().extension() == ".qvimg") set.push_back(entry.path().filename().string());
  ASSERT_GE(set.size(), 3u);
  std::map<std::string, Bytes> before;
  for (const std::string& name : set) before[name] = Read(File(name));
  fs::create_directory(File("elsewhere"));
  fs::create_hard_link(File("set-01.qvimg"), File("elsewhere/hard.img"));
  fs::create_symlink(File("set.qvimg"), File("elsewhere/soft.img"));

  for (const char* output : {"set.qvimg", "set-02.qvimg", "elsewhere/hard.img", "elsewhere/soft.img"}) {
    SCOPED_TRACE(output);
    Outcome exported = Harvesta(std::string("export set.qvimg --partition 1 ") + output);
    EXPECT_EQ(exported.Status, 1);
    EXPECT_EQ(exported.Err, std::string("harvesta: refusing to write ") + output + ": it is a file of the image's backup\n");
    for (const std::string& name : set) EXPECT_TRUE(Read(File(name)) == before[name]) << name << " changed";
  }
  EXPECT_EQ(Harvesta("export set.qvimg --partition 1 elsewhere/copy.img").Status, 0);
}

// Started, then stopped once its output exists, so that the signal lands during the copy.
TEST_F(Cli, ExportEndedByASignalLeavesNoPartialOutput) {
  fs::resize_file(File("a.raw"), 256u << 20);  // long enough to be caught mid-copy
  ASSERT_EQ(Harvesta("make-image big.qvimg -p a.raw").Status, 0);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    const std::string output = File("out.img");
    pid_t child = fork();
    if (child == 0) {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execl(HARVESTA_COMMAND, "harvesta", "export", File("big.qvimg").c_str(), "--partition", "1",
            output.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    while (!fs::exists(output)) std::this_thread::sleep_for(std::chrono::microseconds(100));
    kill(child, SIGSTOP);
    kill(child, signal);
    kill(child, SIGCONT);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    EXPECT_FALSE(fs::exists(output));
  }
}

// Runs the command on a terminal of its own, as a user at a prompt does.
class OnTerminal {
 public:
  explicit OnTerminal(const std::vector<std::string>& arguments) {
    child_ = forkpty(&terminal_, nullptr, nullptr, nullptr);
    if (child_ == 0) {
      rlimit noCore{0, 0};
      setrlimit(RLIMIT_CORE, &noCore);
      unsetenv("HARVESTA_PASSWORD");
      std::vector<char*> argv{const_cast<char*>("harvesta")};
      for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      execv(HARVESTA_COMMAND, argv.data());
      _exit(127);
    }
    user_ = open(ptsname(terminal_), O_RDWR | O_NOCTTY);  // the side the command sees
    fcntl(terminal_, F_SETFL, O_NONBLOCK);  // the other side stays open: reads never see an end
  }
  ~OnTerminal() {
    if (child_ > 0 && waitpid(child_, nullptr, WNOHANG) == 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
    close(user_);
    close(terminal_);
  }
  OnTerminal(const OnTerminal&) = delete;
  OnTerminal& operator=(const OnTerminal&) = delete;

  // Whether the command wrote text (the count-th time since it started) with echo off.
  bool PromptsWithoutEcho(const std::string& text, size_t count = 1) {
    for (int i = 0; i < 2000 && Occurrences(text) < count; ++i) ReadSome();
    termios now{};
    for (int i = 0; i < 1000 && tcgetattr(user_, &now) == 0 && (now.c_lflag & ECHO); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return Occurrences(text) >= count && !(now.c_lflag & ECHO);
  }
  void Signal(int signal) { kill(child_, signal); }
  bool EchoOn() const {
    termios now{};
    return tcgetattr(user_, &now) == 0 && (now.c_lflag & ECHO);
  }
  void Type(const std::string& text) {
    ASSERT_EQ(write(terminal_, text.data(), text.size()), ssize_t(text.size()));
  }
  int ExitStatus() {
    int status = 0;
    while (waitpid(child_, &status, WNOHANG) == 0) ReadSome();
    child_ = -1;
    while (ReadSome()) {  // what it wrote last
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& Seen() const { return seen_; }

 private:
  size_t Occurrences(const std::string& text) const {
    size_t count = 0;
    for (size_t at = seen_.find(text); at != std::string::npos; at = seen_.find(text, at + 1)) ++count;
    return count;
  }
  bool ReadSome() {
    char buffer[256];
    ssize_t n = read(terminal_, buffer, sizeof buffer);
    if (n > 0) seen_.append(buffer, size_t(n));
    else std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return n > 0;
  }
  pid_t child_ = -1;
  int terminal_ = -1, user_ = -1;
  std::string seen_;
};

// The prompt turns echo off; however the process ends while it waits, echo comes back.
TEST_F(Cli, PasswordPromptRestoresTheTerminalOnEveryWayOut) {
  ASSERT_EQ(Harvesta("make-image p.qvimg -p b.raw --password secret").Status, 0);
  struct Case {
    const char* Name;
    const char* Typed;  // "" when a signal is sent instead
    int Signal;
  } cases[] = {
      {"Ctrl-C", "\x03", 0}, {"Ctrl-\\", "\x1c", 0}, {"SIGTERM", "", SIGTERM},
      {"SIGHUP", "", SIGHUP}, {"wrong password", "nope\n", 0}, {"Ctrl-D", "\x04", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    OnTerminal run({"export", File("p.qvimg"), "--partition", "1", File("p.img"), "--tries", "1"});
    ASSERT_TRUE(run.PromptsWithoutEcho("Password for")) << run.Seen();
    if (c.Signal) run.Signal(c.Signal);
    else run.Type(c.Typed);
    EXPECT_NE(run.ExitStatus(), 0);
    EXPECT_TRUE(run.EchoOn());
  }
  EXPECT_FALSE(fs::exists(File("p.img")));
}

// Each bad invocation says what happened, on one line that names the command, and exits with
// the status README documents for it.
TEST_F(Cli, FailuresAreOneLineOnStandardError) {
  Write("junk.qvimg", std::string(200, 'j'));
  ASSERT_EQ(Harvesta("make-image good.qvimg -p b.raw").Status, 0);
  ASSERT_EQ(Harvesta("make-image p.qvimg -p b.raw --password secret").Status, 0);
  fs::create_directories(File("other"));
  fs::copy_file(File("good.qvimg"), File("other/good.img"));
  fs::create_directories(File("folder.qvimg"));
  // A trailer that leads to a catalogue the file cannot hold.
  Write("cut.qvimg", std::string(8, '\xFF') + std::string("__79241006_2651_11D4_", 22) + "\x06" +
                         std::string(17, '\0'));
  // Every subcommand --help lists, and help.
  std::string every;
  for (const std::string& name : HelpSection(Harvesta("--help").Out, "Subcommands:")) every += name + ", ";
  ASSERT_GT(every.size(), 2u);
  every.replace(every.size() - 2, 2, " and help\n");
  struct Case {
    const char* Arguments;
    int Status;
    std::string Error;
  } cases[] = {
      {"list junk.qvimg", 1, "harvesta: 'junk.qvimg' is not an image file\n"},
      {"list missing.qvimg", 1, "harvesta: 'missing.qvimg' does not exist\n"},
      {"list folder.qvimg", 1, "harvesta: 'folder.qvimg' is a folder, not an image file\n"},
      {"list other/good.img", 1,
       "harvesta: 'other/good.img' is not a recognised image file: image file names end in .qvimg or .qvbak\n"},
      {"list cut.qvimg", 4, "harvesta: 'cut.qvimg' is damaged: its catalogue cannot be read\n"},
      {"", 2, "harvesta: a subcommand is required; the subcommands are " + every},
      {"lsit good.qvimg", 2, "harvesta: unknown subcommand 'lsit' (did you mean 'list'?); the subcommands are " + every},
      {"umount /mnt", 2,
       "harvesta: unknown subcommand 'umount' (did you mean 'mount' or 'unmount'?); the subcommands are " + every},
      {"help lsit", 2, "harvesta: unknown subcommand 'lsit' (did you mean 'list'?); the subcommands are " + every},
      {"list", 2, "harvesta: list: IMAGE is required (see harvesta list --help)\n"},
      {"list good.qvimg --colour", 2,
       "harvesta: list: The following argument was not expected: --colour (see harvesta list --help)\n"},
      {"verify p.qvimg --tries 0", 2,
       "harvesta: verify: --tries: Value 0 not in range 1 to 100 (see harvesta verify --help)\n"},
      {"make-image x.qvimg -p a.raw --compression 3", 2,
       "harvesta: make-image: --compression: Value 3 not in range 0 to 2 (see harvesta make-image --help)\n"},
      {"make-image x.qvimg -p a.raw --cipher 1", 2,
       "harvesta: make-image: --cipher takes effect only with --password\n"},
      {"make-image x.qvimg -p a.raw --method alternate", 2,
       "harvesta: make-image: --method takes effect only with --compression 1 or 2\n"},
      {"make-image x.qvimg -p a.raw --method byte-tokens --compression 0 --password s", 2,
       "harvesta: make-image: --method takes effect only with --compression 1 or 2\n"},
      {"make-image x.qvimg -p a.raw --password '\xD0\x96'", 1,
       "harvesta: --password holds characters that Windows-1252 cannot hold\n"},
      {"make-image x.qvimg -p a.raw,raw=999999", 1, "harvesta: make-image: a.raw: raw region longer than the volume\n"},
      {"make-image x.qvimg -p a.raw,colour=red", 1, "harvesta: unknown partition field 'colour=red'\n"},
      {"make-image x.qvimg -p a.raw -p missing.raw", 1, "harvesta: make-image: cannot open missing.raw\n"},
      {"make-image x.qvimg -p a.raw -p b.raw,raw=999999", 1,
       "harvesta: make-image: b.raw: raw region longer than the volume\n"},
  };
  for (const Case& c : cases) {
    Outcome run = Harvesta(c.Arguments);
    EXPECT_EQ(run.Status, c.Status) << c.Arguments;
    EXPECT_EQ(run.Err, c.Error) << c.Arguments;
    EXPECT_EQ(run.Out, "") << c.Arguments;
    EXPECT_FALSE(fs::exists(File("x.qvimg"))) << c.Arguments;  // a failed run leaves no output
  }
  // root reads every file: the one it may not read is shown to another user.
  fs::copy_file(File("good.qvimg"), File("locked.qvimg"));
  fs::permissions(File("locked.qvimg"), fs::perms::none);
  Outcome locked = Harvesta("list locked.qvimg", AsNobody());
  EXPECT_EQ(locked.Status, 1);
  EXPECT_EQ(locked.Err, "harvesta: cannot read 'locked.qvimg': Permission denied\n");
}

// help, help SUBCOMMAND and --version answer on standard output; the usage names the program
// as users type it, and --help documents every exit status.
TEST_F(Cli, HelpNamesTheProgramAndItsExitStatuses) {
  Outcome help = Harvesta("help");
  EXPECT_EQ(help.Status, 0);
  EXPECT_NE(help.Out.find("Usage: harvesta [OPTIONS] SUBCOMMAND"), std::string::npos) << help.Out;
  for (const char* status : {"  2    bad usage", "  3    wrong password", "  4    damaged image", "  5    busy",
                             "  6    nothing mounted", "  130  ended by Ctrl-C"})
    EXPECT_NE(help.Out.find(status), std::string::npos) << status;
  EXPECT_EQ(Harvesta("--help").Out, help.Out);
  Outcome listHelp = Harvesta("help list");
  EXPECT_EQ(listHelp.Status, 0);
  EXPECT_NE(listHelp.Out.find("Usage: harvesta list [OPTIONS] IMAGE"), std::string::npos) << listHelp.Out;
  EXPECT_EQ(Harvesta("list --help").Out, listHelp.Out);
  EXPECT_NE(Harvesta("verify --help").Out.find("--tries"), std::string::npos);
  Outcome version = Harvesta("--version");
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out.rfind("harvesta ", 0), 0u) << version.Out;
}

// A set file cut short (a copy that stopped) or missing is named with why; verify reports it
// in its JSON too and still checks the partition whose files are all there.
TEST_F(Cli, SetFilesCutShortOrMissingAreNamed) {
  ASSERT_EQ(Harvesta("make-image s.qvimg -p a.raw -p a.raw,disk=1 --split 100000").Status, 0);
  const uint64_t fullSize = fs::file_size(File("s-01.qvimg"));
  fs::resize_file(File("s-01.qvimg"), 30000);
  Outcome listed = Harvesta("list s.qvimg");
  EXPECT_EQ(listed.Status, 4);
  const std::string truncated = "'s-01.qvimg' is truncated: 30000 bytes, at least ";
  EXPECT_EQ(listed.Err.rfind("harvesta: the backup of 's.qvimg' lacks a file: " + truncated, 0), 0u) << listed.Err;

  // Chosen itself, the cut file is not taken for a file that is no image.
  std::string ofCutFile = listed.Err;
  ofCutFile.replace(ofCutFile.find("'s.qvimg'"), 9, "'s-01.qvimg'");
  EXPECT_EQ(Harvesta("list s-01.qvimg").Err, ofCutFile);

  Outcome verified = Harvesta("verify s.qvimg --json");
  EXPECT_EQ(verified.Status, 4);
  const nlohmann::json report = nlohmann::json::parse(verified.Out);
  EXPECT_FALSE(report["ok"]);
  ASSERT_EQ(report["lacking_files"].size(), 1u);
  const nlohmann::json& lacking = report["lacking_files"][0];
  EXPECT_EQ(lacking["file"], "s-01.qvimg");
  EXPECT_EQ(lacking["size"], 30000);
  EXPECT_GT(lacking["expected_at_least"], 60000);  // past the data of its second block
  EXPECT_LE(lacking["expected_at_least"], fullSize);
  ASSERT_EQ(report["partitions"].size(), 2u);
  EXPECT_FALSE(report["partitions"][0]["ok"]);
  EXPECT_TRUE(report["partitions"][1]["ok"]);
  EXPECT_EQ(report["partitions"][1]["blocks"], 5);

  fs::remove(File("s-01.qvimg"));
  fs::create_directory(File("s-02.qvimg.part"));
  fs::rename(File("s-02.qvimg"), File("s-02.qvimg.part/s-02.qvimg"));
  fs::rename(File("s-02.qvimg.part"), File("s-02.qvimg"));
  Outcome gone = Harvesta("list s.qvimg");
  EXPECT_EQ(gone.Status, 1);
  EXPECT_EQ(gone.Err, "harvesta: the backup of 's.qvimg' lacks files: 's-01.qvimg' is missing; "
                      "'s-02.qvimg' is a folder\n");

  // Before version 4 a catalogue names its files by number only.
  ASSERT_EQ(Harvesta("make-image old.qvimg -p a.raw --split 60000 --format-version 2").Status, 0);
  fs::remove(File("old-01.qvimg"));
  Outcome old = Harvesta("list old.qvimg");
  EXPECT_EQ(old.Status, 1);
  EXPECT_EQ(old.Err, "harvesta: the backup of 'old.qvimg' lacks a file: file number 1 of the backup is missing\n");
  fs::remove(File("old-03.qvimg"));  // the catalogue: nothing names what else is lacking
  EXPECT_EQ(Harvesta("list old.qvimg").Err,
            "harvesta: the backup of 'old.qvimg' lacks its catalogue: the set's last file is missing or damaged\n");
}

// Passwords come from where cryptsetup users look for them, and a password file that cannot be
// read says so instead of passing for a wrong password.
TEST_F(Cli, PasswordsComeFromEverySourceAndBadFilesSaySo) {
  ASSERT_EQ(Harvesta("make-image p.qvimg -p b.raw --password secret").Status, 0);
  Write("right.txt", "secret\n");
  Write("locked.txt", "secret\n");
  fs::permissions(File("locked.txt"), fs::perms::none);
  fs::create_directories(File("folder"));
  const std::string nobody = AsNobody();
  struct Case {
    const char* Name;
    const char* Arguments;
    std::string Before;
    const char* Input;
    int Status;
    const char* Error;
  } cases[] = {
      {"standard input, a pipe", "", "", "secret\n", 0, ""},
      {"standard input, no line end", "", "", "secret", 0, ""},
      {"--password-file -", "--password-file -", "HARVESTA_PASSWORD=wrong", "secret\n", 0, ""},
      {"--password-file", "--password-file right.txt", "", "", 0, ""},
      {"HARVESTA_PASSWORD", "", "HARVESTA_PASSWORD=secret", "wrong\n", 0, ""},
      {"wrong on standard input", "", "", "wrong\n", 3, "harvesta: wrong password for p.qvimg\n"},
      {"empty standard input", "", "", "", 1,
       "harvesta: 'p.qvimg' is password-protected and standard input holds no password: give it there, "
       "in --password-file FILE or in HARVESTA_PASSWORD\n"},
      {"folder", "--password-file folder", "", "secret\n", 1,
       "harvesta: the password file 'folder' is a folder\n"},
      {"missing file", "--password-file nothing.txt", "", "secret\n", 1,
       "harvesta: cannot read the password file 'nothing.txt': No such file or directory\n"},
      {"unreadable file", "--password-file locked.txt", nobody, "secret\n", 1,
       "harvesta: cannot read the password file 'locked.txt': Permission denied\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Outcome run = Harvesta(std::string("verify p.qvimg ") + c.Arguments, "env -u HARVESTA_PASSWORD " + c.Before,
                           c.Input);
    EXPECT_EQ(run.Status, c.Status) << run.Err;
    if (c.Status) EXPECT_EQ(run.Err, c.Error);
    else EXPECT_NE(run.Out.find("partition 1: 2 blocks, ok"), std::string::npos) << run.Out;
  }
}

// The variable's bytes leave the process once read: the mount daemon, which runs for as long as
// the mount does, shows no password in its /proc environment.
TEST_F(Cli, MountDaemonHoldsNoPasswordFromTheEnvironment) {
  if (geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "needs root and /dev/fuse";
  ASSERT_EQ(Harvesta("make-image p.qvimg -p b.raw --password pw-in-environment").Status, 0);
  fs::create_directories(File("mnt"));
  Outcome mounted = Harvesta("mount p.qvimg --raw mnt", "HARVESTA_PASSWORD=pw-in-environment");
  ASSERT_EQ(mounted.Status, 0) << mounted.Err;
  struct AtEnd {
    std::function<void()> Run;
    ~AtEnd() { Run(); }
  } unmount{[&] { EXPECT_EQ(Harvesta("unmount mnt").Status, 0); }};
  size_t daemons = 0;
  for (const auto& process : fs::directory_iterator("/proc")) {
    const std::string commandLine = Read(process.path() / "cmdline");
    std::error_code error;
    if (commandLine.find(std::string("mount\0p.qvimg", 14)) == std::string::npos ||
        fs::read_symlink(process.path() / "cwd", error) != folder_)
      continue;  // not this test's daemon
    ++daemons;
    const std::string environment = Read(process.path() / "environ");
    EXPECT_EQ(environment.find("HARVESTA_PASSWORD"), std::string::npos) << process.path();
    EXPECT_EQ(environment.find("pw-in-environment"), std::string::npos) << process.path();
  }
  EXPECT_GE(daemons, 1u);
  EXPECT_TRUE(fs::exists(File("mnt/1.img")));
}

// At the prompt a wrong password is asked for again, --tries times in all.
TEST_F(Cli, PasswordPromptAllowsItsTries) {
  ASSERT_EQ(Harvesta("make-image p.qvimg -p b.raw --password secret").Status, 0);
  {
    OnTerminal run({"verify", File("p.qvimg"), "--tries", "3"});
    for (size_t i = 1; i <= 2; ++i) {
      ASSERT_TRUE(run.PromptsWithoutEcho("Password for", i)) << run.Seen();
      run.Type("wrong\n");
    }
    ASSERT_TRUE(run.PromptsWithoutEcho("Password for", 3)) << run.Seen();
    run.Type("secret\n");
    EXPECT_EQ(run.ExitStatus(), 0) << run.Seen();
  }
  OnTerminal run({"verify", File("p.qvimg"), "--tries", "2"});
  for (size_t i = 1; i <= 2; ++i) {
    ASSERT_TRUE(run.PromptsWithoutEcho("Password for", i)) << run.Seen();
    run.Type("wrong\n");
  }
  EXPECT_EQ(run.ExitStatus(), 3);
  EXPECT_NE(run.Seen().find("harvesta: wrong password for"), std::string::npos) << run.Seen();
  EXPECT_EQ(run.Seen().find("Password for", run.Seen().rfind("wrong password")), std::string::npos)
      << "asked a third time: " << run.Seen();
}

struct TerminalOutcome {
  int Status;        // -1 when not ended by exit
  std::string Seen;  // all the command wrote to the terminal
};

// Runs the command with a terminal as stdin, stdout and stderr. Once waitFor has appeared
// (at once when empty), act gets the child and the terminal's master side.
TerminalOutcome RunOnTerminal(const std::vector<std::string>& arguments,
                              const std::string& waitFor = "",
                              const std::function<void(pid_t, int)>& act = {}) {
  int terminal = -1;
  pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child < 0) return {-1, "forkpty failed"};
  if (child == 0) {
    std::vector<char*> argv{const_cast<char*>("harvesta")};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(HARVESTA_COMMAND, argv.data());
    _exit(127);
  }
  fcntl(terminal, F_SETFL, O_NONBLOCK);
  std::string seen;
  char buffer[4096];
  bool acted = false;
  int status = 0;
  auto drain = [&] {
    ssize_t n = 0;
    while ((n = read(terminal, buffer, sizeof buffer)) > 0) seen.append(buffer, size_t(n));
  };
  for (int i = 0; waitpid(child, &status, WNOHANG) == 0; ++i) {
    drain();
    if (!acted && act && seen.find(waitFor) != std::string::npos) {
      act(child, terminal);
      acted = true;
    }
    if (i > 20000) kill(child, SIGKILL);  // a hung command fails its test instead of the run
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  drain();
  close(terminal);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, seen};
}

// Flips one byte of a.raw's stored copy (block 2 of 64 KiB after the 8 KiB raw region), so that
// that block no longer matches its digest.
class DamagedImage : public Cli {
 protected:
  void SetUp() override {
    Cli::SetUp();
    ASSERT_EQ(Harvesta("make-image z.qvimg -p a.raw,raw=8192").Status, 0);
    Bytes image = Read(File("z.qvimg"));
    const Bytes partition = Read(File("a.raw"));
    image[Find(image, partition.data() + 200000, 64)] ^= 1;
    Write("z.qvimg", image);
  }
  static constexpr size_t kBadOffset = 8192 + 2 * 65536, kBadLength = 65536;
};

TEST_F(DamagedImage, ExportWritesZerosForWhatCannotBeReadOnlyWhenAsked) {
  Outcome refused = Harvesta("export z.qvimg --partition 1 z.img");
  EXPECT_EQ(refused.Status, 4);
  EXPECT_NE(refused.Err.find("cannot read bytes at offset 139264 (block 2 in "), std::string::npos)
      << refused.Err;
  EXPECT_FALSE(fs::exists(File("z.img")));

  Outcome salvaged = Harvesta("export z.qvimg --partition 1 z.img --zero-bad -q --hash md5");
  EXPECT_EQ(salvaged.Status, 4);
  Bytes expected = Read(File("a.raw"));
  expected.replace(kBadOffset, kBadLength, kBadLength, '\0');
  EXPECT_TRUE(Read(File("z.img")) == expected) << "not the partition with its bad block zeroed";
  EXPECT_NE(salvaged.Err.find("partition 1: zeroed 65536 bytes at offset 139264 (block 2 in "),
            std::string::npos)
      << salvaged.Err;
  EXPECT_NE(salvaged.Err.find("z.qvimg)\n"), std::string::npos)
      << salvaged.Err;  // the file holding it
  EXPECT_NE(salvaged.Err.find("1 unreadable piece(s) written as zeros"), std::string::npos)
      << salvaged.Err;

  // verify's digest of a damaged partition is that of the salvaged copy.
  const std::string md5 = Md5Hex(expected);
  EXPECT_EQ(salvaged.Out, "md5: " + md5 + "\n");
  Outcome verified = Harvesta("verify z.qvimg -q --hash md5");
  EXPECT_EQ(verified.Status, 4);
  EXPECT_NE(verified.Out.find("partition 1 md5: " + md5 + "\n"), std::string::npos) << verified.Out;
}

// Each digest as md5sum and sha256sum give it of the bytes exported, from export to a file, to
// stdout (the digests then on stderr), and from verify as text and as JSON.
TEST_F(Cli, DigestsOnRequestAreThoseOfThePartitionsBytes) {
  ASSERT_EQ(Harvesta("make-image h.qvimg -p a.raw,raw=8192 -p b.raw --compression 2 --password pw")
                .Status,
            0);
  Write("pw.txt", "pw\n");
  const std::string tools =
      "md5sum z.img | cut -c1-32 >sums.txt && sha256sum z.img | cut -c1-64 >>sums.txt";
  for (const char* partition : {"1", "2"}) {
    SCOPED_TRACE(partition);
    const std::string common =
        std::string(" h.qvimg --partition ") + partition + " --password-file pw.txt";
    Outcome exported = Harvesta("export" + common + " z.img --force --hash sha256,md5 -q");
    ASSERT_EQ(exported.Status, 0) << exported.Err;
    ASSERT_EQ(std::system(("cd '" + folder_.string() + "' && " + tools).c_str()), 0);
    std::istringstream sums(Read(File("sums.txt")));
    std::string md5, sha256;
    sums >> md5 >> sha256;
    EXPECT_EQ(exported.Out, "md5: " + md5 + "\nsha256: " + sha256 + "\n");

    Outcome piped = Harvesta("export" + common + " - --hash sha256 -q");
    EXPECT_EQ(piped.Out, Read(File("z.img")));
    EXPECT_EQ(piped.Err, "sha256: " + sha256 + "\n");

    Outcome text = Harvesta("verify h.qvimg --password-file pw.txt --hash md5 -q");
    EXPECT_NE(text.Out.find(std::string("partition ") + partition + " md5: " + md5 + "\n"),
              std::string::npos)
        << text.Out;
    EXPECT_EQ(text.Out.find("sha256"), std::string::npos) << "only what was asked for";
    Outcome json = Harvesta("verify h.qvimg --password-file pw.txt --hash md5,sha256 --json -q");
    ASSERT_EQ(json.Status, 0) << json.Err;
    const nlohmann::json row =
        nlohmann::json::parse(json.Out).at("partitions").at(size_t(std::stoi(partition) - 1));
    EXPECT_EQ(row["md5"], md5);
    EXPECT_EQ(row["sha256"], sha256);
  }
  Outcome unknown = Harvesta("verify h.qvimg --hash crc32");  // a usage error, whatever its status
  EXPECT_NE(unknown.Status, 0);
  EXPECT_NE(unknown.Err.find("'crc32' is not md5 or sha256"), std::string::npos) << unknown.Err;
}

// The summary is one line on stderr, so that stdout can carry the copy; -q drops it.
TEST_F(Cli, SummaryLineAtTheEndUnlessQuiet) {
  ASSERT_EQ(Harvesta("make-image s.qvimg -p a.raw").Status, 0);
  for (const char* command : {"export s.qvimg --partition 1 -", "verify s.qvimg"}) {
    SCOPED_TRACE(command);
    Outcome loud = Harvesta(command);
    EXPECT_EQ(loud.Status, 0);
    const std::string name = std::string(command).substr(0, 6);
    EXPECT_TRUE(ShapeAt(loud.Err, 0, name + ": 0.3 MiB in ~ s, ~ MB/s\n") &&
                std::count(loud.Err.begin(), loud.Err.end(), '\n') == 1)
        << loud.Err;
    Outcome quiet = Harvesta(std::string(command) + " -q");
    EXPECT_EQ(quiet.Err, "");
    EXPECT_EQ(quiet.Out, loud.Out);
  }
}

TEST_F(Cli, ProgressOnATerminalShowsRateAndTimeLeft) {
  ASSERT_EQ(Harvesta("make-image s.qvimg -p a.raw").Status, 0);
  TerminalOutcome shown =
      RunOnTerminal({"export", File("s.qvimg"), "--partition", "1", File("s.img")});
  EXPECT_EQ(shown.Status, 0) << shown.Seen;
  EXPECT_TRUE(HasShape(shown.Seen, "\rexport [" + std::string(30, '#') +
                                       "] 100%  0.3 MiB of 0.3 MiB, ~ MB/s, 0:00 left"))
      << shown.Seen;
  fs::remove(File("s.img"));
  TerminalOutcome quiet =
      RunOnTerminal({"export", File("s.qvimg"), "--partition", "1", File("s.img"), "-q"});
  EXPECT_EQ(quiet.Status, 0);
  EXPECT_EQ(quiet.Seen, "");
}

// What export writes over: an existing file only with --force, never a terminal, a device only
// when it holds the whole partition (and then without --force).
TEST_F(Cli, ExportRefusesWhatItMustNotWriteOver) {
  ASSERT_EQ(Harvesta("make-image r.qvimg -p a.raw").Status, 0);
  const Bytes partition = Read(File("a.raw"));
  Write("old.img", "keep me");
  Outcome kept = Harvesta("export r.qvimg --partition 1 old.img");
  EXPECT_EQ(kept.Status, 1);
  EXPECT_TRUE(
      OneErrorLine(kept.Err, "refusing to overwrite old.img: it exists (--force writes over it)\n"))
      << kept.Err;
  EXPECT_EQ(Read(File("old.img")), "keep me");
  Outcome forced = Harvesta("export r.qvimg --partition 1 old.img --force");
  EXPECT_EQ(forced.Status, 0) << forced.Err;
  EXPECT_TRUE(Read(File("old.img")) == partition);
  Outcome discarded = Harvesta("export r.qvimg --partition 1 /dev/null -q");  // not a file to keep
  EXPECT_EQ(discarded.Status, 0) << discarded.Err;

  TerminalOutcome terminal = RunOnTerminal({"export", File("r.qvimg"), "--partition", "1", "-"});
  EXPECT_EQ(terminal.Status, 1);
  EXPECT_TRUE(OneErrorLine(terminal.Seen,
                           "refusing to write binary data to the terminal stdout: redirect it or "
                           "name an output file\r\n"))
      << terminal.Seen;
}

TEST_F(Cli, ExportToADeviceChecksItsSize) {
  if (geteuid() != 0) {
    if (std::getenv("HARVESTA_REQUIRE_MOUNTS")) FAIL() << "loop devices need root";
    GTEST_SKIP() << "loop devices need root";
  }
  ASSERT_EQ(Harvesta("make-image d.qvimg -p a.raw").Status, 0);
  const Bytes partition = Read(File("a.raw"));
  struct Case {
    const char* Name;
    size_t DeviceBytes;
    int Status;
  } cases[] = {{"too small", 256 << 10, 1}, {"large enough", 1 << 20, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Write("disk.bin", std::string(c.DeviceBytes, 'd'));
    const std::string attach =
        "cd '" + folder_.string() + "' && losetup -f --show disk.bin >loop.txt";
    ASSERT_EQ(std::system(attach.c_str()), 0);
    const Bytes attached = Read(File("loop.txt"));
    const std::string device = attached.substr(0, attached.find('\n'));
    ASSERT_EQ(device.rfind("/dev/loop", 0), 0u) << attached;
    Outcome exported = Harvesta("export d.qvimg --partition 1 " + device + " -q");
    std::system(("losetup -d " + device).c_str());
    EXPECT_EQ(exported.Status, c.Status) << exported.Err;
    const Bytes disk = Read(File("disk.bin"));
    if (c.Status == 0) {
      EXPECT_TRUE(disk.substr(0, partition.size()) == partition);
      EXPECT_EQ(disk.substr(partition.size()), Bytes(c.DeviceBytes - partition.size(), 'd'));
    } else {
      EXPECT_TRUE(OneErrorLine(exported.Err, "refusing to write " + device +
                                                 ": it holds 262144 bytes, the partition 300000\n"))
          << exported.Err;
      EXPECT_EQ(disk, Bytes(c.DeviceBytes, 'd')) << "written although refused";
    }
  }
}

// Ctrl-C typed on the terminal while the blocks are checked: what was checked so far, exit 130.
TEST_F(Cli, VerifyInterruptedTellsWhatItCheckedSoFar) {
  fs::resize_file(File("a.raw"), 256u << 20);  // long enough to be caught mid-check
  ASSERT_EQ(Harvesta("make-image big.qvimg -p a.raw").Status, 0);
  TerminalOutcome stopped = RunOnTerminal({"verify", File("big.qvimg")}, "verify partition 1 [",
                                          [](pid_t child, int terminal) {
                                            kill(child, SIGSTOP);  // so that it cannot finish first
                                            EXPECT_EQ(write(terminal, "\x03", 1), 1);
                                            kill(child, SIGCONT);
                                          });
  EXPECT_EQ(stopped.Status, 130) << stopped.Seen;
  EXPECT_TRUE(HasShape(stopped.Seen,
                       "verify interrupted: 1 file(s), 1 of 1 partition(s), ~ block(s) checked, "
                       "0 problem(s) so far\r\n"))
      << stopped.Seen;
  EXPECT_TRUE(HasShape(stopped.Seen, "partition 1: ~ blocks, not checked to its end"))
      << stopped.Seen;
}
}  // namespace
