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

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

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
  // before: shell words ahead of the command, such as a ulimit.
  Outcome Harvesta(const std::string& arguments, const std::string& before = "") {
    std::string command = "cd '" + folder_.string() + "' && " + before + " TZ=UTC " HARVESTA_COMMAND " " +
                          arguments + " >out.txt 2>err.txt";
    int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Read(folder_ / "out.txt"),
            Read(folder_ / "err.txt")};
  }

  fs::path folder_;
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
  EXPECT_EQ(pipe.Err, "'pipe.qvimg' is corrupt: cannot open the file\n");
}

TEST_F(Cli, SplitSetListsUntilAFileGoesMissing) {
  Outcome made = Harvesta("make-image set.QVBAK -p a.raw --split 60000");
  ASSERT_EQ(made.Status, 0) << made.Err;
  EXPECT_EQ(made.Out, "set-00.QVBAK\nset-01.QVBAK\nset-02.QVBAK\nset-03.QVBAK\n");
  EXPECT_EQ(Harvesta("list set-00.QVBAK --json").Status, 0);
  fs::remove(folder_ / "set-01.QVBAK");
  Outcome listed = Harvesta("list set-03.QVBAK");
  EXPECT_EQ(listed.Status, 1);
  EXPECT_EQ(listed.Err,
            "'set-03.QVBAK' is part of a multi file image and at least one of the files does not "
            "exists in this directory\n");
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
  EXPECT_EQ(asVersion6.Status, 1);
  EXPECT_NE(asVersion6.Err.find("v6.qvimg: digest mismatch"), std::string::npos) << asVersion6.Err;

  std::string digest = Read(File("v4.qvimg")).substr(fs::file_size(File("v4.qvimg")) - 16);
  patch("v4.qvimg", -1, static_cast<char>(digest.back() ^ 1));
  Outcome flipped = Harvesta("verify v4.qvimg");
  EXPECT_EQ(flipped.Status, 1);
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
      {"v3 digest byte flipped", "3", [](Bytes& b) { b.back() ^= 1; }, 1, "catalogue digest mismatch",
       "v.qvimg: digest mismatch"},
      {"boot area damaged", "2", [](Bytes& b) { b[100] ^= 1; }, 1, "partition 1: 1 blocks, DAMAGED",
       "partition 1 raw region: MD5 mismatch"},
      {"3 GiB raw region in a small file", "2",
       [](Bytes& b) {
         // Extents: region start 1 MiB, volume length, block area start.
         uint64_t extents[] = {1u << 20, 16384, (1u << 20) + 8192};
         size_t at = Find(b, extents, sizeof extents);
         Put<uint64_t>(b, at + 8, (3ull << 30) + 16384);
         Put<uint64_t>(b, at + 16, (1u << 20) + (3ull << 30));
       },
       1, "DAMAGED", "partition 1 raw region: runs past the end of its image file"},
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
    Outcome verified = Harvesta("verify v/v.qvimg", "ulimit -v 1048576;");
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
  EXPECT_EQ(verified.Status, 1) << verified.Err;
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
  Outcome verified = Harvesta("verify e.qvimg --password-file right.txt");
  EXPECT_EQ(verified.Status, 0) << verified.Err;
  EXPECT_NE(verified.Out.find("partition 1: 5 blocks, ok\npartition 2: 2 blocks, ok\n"), std::string::npos)
      << verified.Out;
  EXPECT_EQ(verified.Err, "");
  Outcome wrong = Harvesta("verify e.qvimg --password-file wrong.txt");
  EXPECT_EQ(wrong.Status, 1);
  EXPECT_EQ(wrong.Err, "wrong password for e.qvimg\n");
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
  fs::create_symlink(File("set-00.qvimg"), File("elsewhere/soft.img"));

  for (const char* output : {"set-00.qvimg", "set-02.qvimg", "elsewhere/hard.img", "elsewhere/soft.img"}) {
    SCOPED_TRACE(output);
    Outcome exported = Harvesta(std::string("export set-00.qvimg --partition 1 ") + output);
    EXPECT_EQ(exported.Status, 1);
    EXPECT_EQ(exported.Err, std::string("refusing to write ") + output + ": it is a file of the image's backup\n");
    for (const std::string& name : set) EXPECT_TRUE(Read(File(name)) == before[name]) << name << " changed";
  }
  EXPECT_EQ(Harvesta("export set-00.qvimg --partition 1 elsewhere/copy.img").Status, 0);
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
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_FALSE(fs::exists(output));
  }
}

// The prompt turns echo off; however the process ends while it waits, echo comes back.
TEST_F(Cli, PasswordPromptRestoresTheTerminalOnEveryWayOut) {
  ASSERT_EQ(Harvesta("make-image p.qvimg -p b.raw --password secret").Status, 0);
  struct Case {
    const char* Name;
    const char* Typed;  // "" when a signal is sent instead
    int Signal;
  } cases[] = {
      {"Ctrl-C", "\x03", 0}, {"Ctrl-\\", "\x1c", 0}, {"SIGTERM", "", SIGTERM},
      {"SIGHUP", "", SIGHUP}, {"wrong password", "nope\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    int terminal = -1;
    pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
      rlimit noCore{0, 0};
      setrlimit(RLIMIT_CORE, &noCore);
      unsetenv("HARVESTA_PASSWORD");
      execl(HARVESTA_COMMAND, "harvesta", "export", File("p.qvimg").c_str(), "--partition", "1",
            File("p.img").c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int user = open(ptsname(terminal), O_RDWR | O_NOCTTY);  // the side the command sees
    fcntl(terminal, F_SETFL, O_NONBLOCK);  // the other side stays open: reads never see an end
    std::string seen;
    char buffer[256];
    termios now{};
    // Wait for the prompt, then for echo to go off.
    for (int i = 0; i < 2000 && seen.find("Password for") == std::string::npos; ++i) {
      ssize_t n = read(terminal, buffer, sizeof buffer);
      if (n > 0) seen.append(buffer, size_t(n));
      else std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_NE(seen.find("Password for"), std::string::npos) << seen;
    for (int i = 0; i < 1000 && tcgetattr(user, &now) == 0 && (now.c_lflag & ECHO); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_FALSE(now.c_lflag & ECHO) << "echo never went off";
    if (c.Signal) kill(child, c.Signal);
    else ASSERT_EQ(write(terminal, c.Typed, std::strlen(c.Typed)), ssize_t(std::strlen(c.Typed)));
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
      if (read(terminal, buffer, sizeof buffer) <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(tcgetattr(user, &now), 0);
    EXPECT_TRUE(now.c_lflag & ECHO);
    close(user);
    close(terminal);
  }
  EXPECT_FALSE(fs::exists(File("p.img")));
}

TEST_F(Cli, FailuresAreOneLineOnStandardError) {
  Write("junk.qvimg", std::string(200, 'j'));
  struct Case {
    const char* Arguments;
    const char* Error;
  } cases[] = {
      {"list junk.qvimg", "'junk.qvimg' is corrupt: Invalid File\n"},
      {"list missing.qvimg", "'missing.qvimg' is corrupt: cannot open the file\n"},
      {"make-image x.qvimg -p a.raw --password '\xD0\x96'",
       "--password holds characters that Windows-1252 cannot hold\n"},
      {"make-image x.qvimg -p a.raw,raw=999999", "make-image: a.raw: raw region longer than the volume\n"},
      {"make-image x.qvimg -p a.raw,colour=red", "unknown partition field 'colour=red'\n"},
      {"make-image x.qvimg -p a.raw -p missing.raw", "make-image: cannot open missing.raw\n"},
      {"make-image x.qvimg -p a.raw -p b.raw,raw=999999", "make-image: b.raw: raw region longer than the volume\n"},
  };
  for (const Case& c : cases) {
    Outcome run = Harvesta(c.Arguments);
    EXPECT_EQ(run.Status, 1) << c.Arguments;
    EXPECT_EQ(run.Err, c.Error) << c.Arguments;
    EXPECT_EQ(run.Out, "") << c.Arguments;
    EXPECT_FALSE(fs::exists(File("x.qvimg"))) << c.Arguments;  // a failed run leaves no output
  }
  EXPECT_EQ(Harvesta("make-image x.qvimg -p a.raw --compression 3").Status, 1);
}
}  // namespace
