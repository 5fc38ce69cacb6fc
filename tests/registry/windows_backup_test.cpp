// Windows' own registry backups of a machine made by brakvel9x-machine,
// converted into an archive by the program through the script driver with
// the real tools: the archive passes cabextract, holds the backup's hives
// byte for byte, and libcreg reads each of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "platform/registry/registry.h"
#include "support.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using regtest::slurp;
using namespace std::chrono_literals;

namespace {

class WindowsBackup : public testing::TestWithParam<bool> {
 protected:
  testsupport::TempDir dir{"brakvel-winbackup"};
};

regtest::Ran shell(const std::string& command) {
  return testsupport::runShell(command, 120s, {.mergeOutput = true});
}

std::vector<std::string> hivesOf(bool me) {
  std::vector<std::string> h;
  if (me) h.push_back("Classes.dat");
  h.push_back("System.dat");
  h.push_back("User.dat");
  return h;
}

TEST_P(WindowsBackup, TheMachinesOwnBackupIsConvertedIntoAnArchive) {
  const bool me = GetParam();
  testsupport::TestMachine tm({.windows = me ? testsupport::Windows::WinME : testsupport::Windows::Win98,
                               .layout = testsupport::Layout::Installed,
                               .quietStart = true});
  const fs::path machine = tm.dir();
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
  regtest::Ran r = testsupport::run({BRAKVEL9X_SCRIPT, (dir / "script.txt").string()}, 300s, {.machine = machine});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("message: Brakvel 9x | information | Backup archive successfully created ."),
            std::string::npos)
      << r.out;

  const fs::path windows = machine / "drive_c" / "WINDOWS";
  const fs::path archive = machine / "drive_c" / "Program Files" / "Brakvel 9x" / "archive" / "Converted.kvt";
  ASSERT_TRUE(fs::exists(archive)) << r.out;
  regtest::Ran test = shell("cabextract -t '" + archive.string() + "'");
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
    regtest::Ran peer = regtest::libcregDump(fromArchive / hive);
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
