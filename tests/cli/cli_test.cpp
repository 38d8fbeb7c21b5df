// harvesta make-image, list and verify, run as a user runs them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

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
  Outcome Harvesta(const std::string& arguments) {
    std::string command = "cd '" + folder_.string() + "' && TZ=UTC " HARVESTA_COMMAND " " +
                          arguments + " >out.txt 2>err.txt";
    int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Read(folder_ / "out.txt"),
            Read(folder_ / "err.txt")};
  }

  fs::path folder_;
};

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
