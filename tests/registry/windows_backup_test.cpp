// Windows' own registry backups of a machine made by brakvel9x-machine,
// converted into an archive by the program through the script driver with
// the real tools: the archive passes cabextract, holds the backup's hives
// byte for byte, and libcreg reads each of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>

#include "platform/registry/registry.h"
#include "support.h"

namespace fs = std::filesystem;
using regtest::slurp;

namespace {

class WindowsBackup : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir = fs::temp_directory_path() / ("brakvel-winbackup-" + std::to_string(rd()) + std::to_string(getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir;
};

regtest::Run shell(const std::string& command) { return regtest::run({"/bin/sh", "-c", command + " 2>&1"}); }

std::vector<std::string> hivesOf(bool me) {
  std::vector<std::string> h;
  if (me) h.push_back("Classes.dat");
  h.push_back("System.dat");
  h.push_back("User.dat");
  return h;
}

TEST_P(WindowsBackup, TheMachinesOwnBackupIsConvertedIntoAnArchive) {
  const bool me = GetParam();
  const fs::path machine = dir / "machine";
  std::vector<std::string> initArgs{MACHINE_EXE, "init", machine.string()};
  if (me) initArgs.push_back("--me");
  regtest::Run init = regtest::run(initArgs);
  ASSERT_EQ(init.status, 0) << init.out << init.err;
  {
    platform::Machine m = platform::Machine::open(machine);
    platform::SaveSetting(m, "Brakvel 9x", "Options", "Show Intro", "0");
    platform::SaveSetting(m, "Brakvel 9x", "Options", "Show Tips at Startup", "0");
  }
  std::ofstream(dir / "script.txt") << "click tlbCmdWinBackup\n"
                                       "select lvwWinBackup Winbackup1\n"
                                       "click cmdImportWin\n"
                                       "wait\n"
                                       "click cmdWinSysInfo\n"
                                       "type txtWinComments the machine's own backup\n"
                                       "click cmdWinWriteComments\n"
                                       "type txtWinNameFileBackup Converted\n"
                                       "click cmdWinMakeBackup\n"
                                       "wait\n"
                                       "close\n";
  regtest::Run r = regtest::run({BRAKVEL9X_SCRIPT, (dir / "script.txt").string()}, machine);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("message: Brakvel 9x | information | Backup archive successfully created ."),
            std::string::npos)
      << r.out;

  const fs::path windows = machine / "drive_c" / "WINDOWS";
  const fs::path archive = machine / "drive_c" / "Program Files" / "Brakvel 9x" / "archive" / "Converted.kvt";
  ASSERT_TRUE(fs::exists(archive)) << r.out;
  regtest::Run test = shell("cabextract -t '" + archive.string() + "'");
  EXPECT_EQ(test.status, 0) << test.out;
  const fs::path fromArchive = dir / "archive", fromBackup = dir / "backup";
  ASSERT_EQ(shell("cabextract -q -d '" + fromArchive.string() + "' '" + archive.string() + "'").status, 0);
  ASSERT_EQ(shell("cabextract -q -d '" + fromBackup.string() + "' '" + (windows / "Sysbckup" / "rb000.cab").string() +
                  "'")
                .status,
            0);
  std::vector<std::string> members;
  for (const auto& e : fs::directory_iterator(fromArchive)) members.push_back(e.path().filename().string());
  std::sort(members.begin(), members.end());
  std::vector<std::string> want = hivesOf(me);
  for (const char* f : {"System.ini", "Win.ini", "info.txt"}) want.push_back(f);
  std::sort(want.begin(), want.end());
  EXPECT_EQ(members, want);
  for (const std::string& hive : hivesOf(me)) {
    SCOPED_TRACE(hive);
    // The backup's hive, not the live one, and a registry file libcreg reads.
    EXPECT_TRUE(slurp(fromArchive / hive) == slurp(fromBackup / hive));
    regtest::Run peer = regtest::libcregDump(fromArchive / hive);
    EXPECT_EQ(peer.status, 0) << peer.err;
    EXPECT_GT(peer.out.size(), 40u);
    if (hive == "System.dat") {
      EXPECT_NE(peer.out, regtest::libcregDump(windows / hive).out);
    }
  }
  EXPECT_NE(slurp(fromArchive / "info.txt").find("the machine's own backup\r\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Windows98AndME, WindowsBackup, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ME" : "Win98"; });

}  // namespace
