// The Backup and Windows-backup screens on the virtual clock, without the
// archive tools: information file, enable rules, gathering the system files
// and every refusal that starts nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include "TestMachine.h"
#include "app/frmGlavni.h"
#include "backup/modListPrograms.h"
#include "platform/files.h"
#include "platform/registry/registry.h"

using testing::ElementsAre;
using testing::HasSubstr;

namespace {

using namespace platform::reg;

const std::string kProgram = "C:\\Program Files\\Brakvel 9x";
const std::string kExchange = kProgram + "\\Exchange";
const std::string kUninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::regex kCreatedLine(R"(Backup created at : \d{1,2}/\d{1,2}/\d{4}   \d{1,2}:\d\d:\d\d [AP]M)");

class Screens : public testing::Test {
 protected:
  void SetUp() override {
    t.setSetting("Show Intro", "0");
    t.setSetting("Show Tips at Startup", "0");
  }
  void start() {
    t.program->start();
    main = &t.program->form<app::frmGlavni>();
    t.newLines();
  }
  const platform::Machine& m() { return *t.machine; }
  void program(const std::string& key, uint32_t type, const std::string& data) {
    HKEY h = 0;
    ASSERT_EQ(t.registry->RegCreateKey(HKEY_LOCAL_MACHINE, kUninstall + "\\" + key, &h), ERROR_SUCCESS);
    if (type != REG_NONE) t.registry->RegSetValueEx(h, "DisplayName", type, data);
    t.registry->RegCloseKey(h);
  }
  std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t at = 0;
    for (size_t e; (e = text.find("\r\n", at)) != std::string::npos; at = e + 2) out.push_back(text.substr(at, e - at));
    EXPECT_EQ(at, text.size()) << "text does not end with CR LF";
    return out;
  }
  std::vector<std::string> messages() { return t.linesStartingWith("message: "); }
  bool started() { return !t.linesStartingWith("start: ").empty(); }

  apptest::TestProgram t;
  app::frmGlavni* main = nullptr;
};

TEST_F(Screens, SystemInfoListsDisplayNamesInRegistryOrder) {
  program("Alpha", REG_SZ, std::string("Alpha", 6));
  program("Quiet", REG_NONE, "");
  program("Expand", REG_EXPAND_SZ, std::string("Expanded", 9));
  program("Nul", REG_SZ, std::string("Be\0ta\0", 6));
  program("Empty", REG_SZ, std::string("\0", 1));
  program("Twin", REG_SZ, std::string("Alpha", 6));
  start();
  main->cmdSystemInfo->userClick();
  auto text = lines(main->txtSystemInfo->text());
  ASSERT_EQ(text.size(), 7u);
  EXPECT_TRUE(std::regex_match(text[0], kCreatedLine)) << text[0];
  EXPECT_THAT(std::vector<std::string>(text.begin() + 1, text.end()),
              ElementsAre("", "Programs ,that were installed on your computer at backup time :", "", "Alpha", "Be",
                          "Alpha"));
  auto file = lines(platform::readFile(m(), kProgram + "\\exchange\\info.txt"));
  ASSERT_EQ(file.size(), 10u);
  EXPECT_TRUE(std::regex_match(file[0], kCreatedLine));
  EXPECT_THAT(std::vector<std::string>(file.begin() + 4, file.end()),
              ElementsAre("Alpha", "Be", "Alpha", "", "Additional comments :", ""));
  EXPECT_THAT(t.newLines(), ElementsAre("status: Getting system info...", "status: Done ."));
  t.clock.advance(3000);
  EXPECT_EQ(main->SBar->text(), "");
}

TEST_F(Screens, NoProgramsGivesTheSevenLineProvisionalFile) {
  program("Quiet", REG_NONE, "");
  start();
  main->cmdWinSysInfo->userClick();
  EXPECT_THAT(lines(main->txtWinInfo->text()).size(), 4u);
  auto file = lines(platform::readFile(m(), kProgram + "\\exchange\\info.txt"));
  EXPECT_THAT(std::vector<std::string>(file.begin() + 1, file.end()),
              ElementsAre("", "Programs ,that were installed on your computer at backup time :", "", "",
                          "Additional comments :", ""));
}

TEST_F(Screens, MissingUninstallKeyEndsTheProgram) {
  start();
  main->cmdSystemInfo->userClick();
  EXPECT_THAT(messages(), ElementsAre("message: Brakvel 9x | none | Registry key could Not be opened -- aborting."));
  EXPECT_TRUE(t.program->ended());
  auto file = lines(platform::readFile(m(), kProgram + "\\exchange\\info.txt"));
  ASSERT_EQ(file.size(), 5u);
  EXPECT_EQ(file[4], "\"Registry key could Not be opened -- aborting.\"");
}

TEST_F(Screens, FinalInfoFileKeepsTheBoxesAsTheyAre) {
  program("Alpha", REG_SZ, std::string("Alpha", 6));
  start();
  main->cmdSystemInfo->userClick();
  const std::string info = main->txtSystemInfo->text();
  main->txtComments->userType("before the driver update");
  main->cmdWriteFile->userClick();
  EXPECT_EQ(platform::readFile(m(), kExchange + "\\info.txt"),
            info + "\r\n\r\nAdditional comments :\r\n\r\nbefore the driver update\r\n");
  // Typed-in information, and none at all.
  main->txtSystemInfo->userType("mine");
  main->txtComments->userType("");
  main->cmdWriteFile->userClick();
  EXPECT_EQ(platform::readFile(m(), kExchange + "\\info.txt"), "mine\r\n\r\nAdditional comments :\r\n\r\n\r\n");
  main->txtWinComments->userType("w");
  main->cmdWinWriteComments->userClick();
  EXPECT_EQ(platform::readFile(m(), kExchange + "\\info.txt"), "\r\n\r\nAdditional comments :\r\n\r\nw\r\n");
}

TEST_F(Screens, BackupScreenEnablesEachStepAfterTheOneBefore) {
  start();
  auto enabled = [&] {
    std::vector<std::string> on;
    for (app::Control* c : {main->cmdNewBackup, main->cmdSystemInfo, main->cmdWriteFile, main->cmdClearFile,
                            main->txtNameFileBackup, main->cmdMakeBackup})
      if (c->enabled()) on.push_back(c->name());
    return on;
  };
  EXPECT_THAT(enabled(), ElementsAre("cmdNewBackup", "cmdSystemInfo"));
  main->txtComments->userClick();
  EXPECT_EQ(main->SBar->text(), "Enter your notes ,please...");
  main->txtComments->userType("c");
  EXPECT_THAT(enabled(), ElementsAre("cmdNewBackup", "cmdSystemInfo", "cmdWriteFile", "cmdClearFile"));
  main->cmdWriteFile->userClick();
  EXPECT_THAT(enabled(), ElementsAre("cmdNewBackup", "cmdSystemInfo", "cmdWriteFile", "cmdClearFile",
                                     "txtNameFileBackup"));
  main->txtNameFileBackup->userType("first");
  EXPECT_THAT(enabled(), ElementsAre("cmdNewBackup", "cmdSystemInfo", "cmdWriteFile", "cmdClearFile",
                                     "txtNameFileBackup", "cmdMakeBackup"));
  t.newLines();
  main->cmdNewBackup->userClick();
  EXPECT_THAT(enabled(), ElementsAre("cmdNewBackup", "cmdSystemInfo"));
  EXPECT_EQ(main->txtNameFileBackup->text(), "first");
  EXPECT_EQ(main->txtComments->text(), "");
  EXPECT_THAT(t.newLines(), ElementsAre("status: Removing old information...", "status: Done ."));
  main->txtComments->userType("again");
  main->cmdClearFile->userClick();
  EXPECT_EQ(main->txtComments->text(), "");
  EXPECT_TRUE(main->cmdWriteFile->enabled());
  EXPECT_TRUE(main->cmdClearFile->enabled());
}

TEST_F(Screens, WriteToFileReplacesTheCopiesOfEarlierWork) {
  // A copy left read-only, hidden and system by an earlier backup.
  platform::writeFile(m(), kExchange + "\\System.dat", "old");
  platform::setAttributes(m(), kExchange + "\\System.dat", platform::kReadOnly | platform::kHidden | platform::kSystem);
  platform::writeFile(m(), kExchange + "\\Classes.dat", "left by an ME backup");
  platform::setAttributes(m(), "C:\\WINDOWS\\User.dat", platform::kReadOnly | platform::kHidden);
  start();
  ASSERT_FALSE(main->HasClassesDat);
  main->txtComments->userType("c");
  main->cmdWriteFile->userClick();
  for (const char* name : {"System.dat", "User.dat", "System.ini", "Win.ini"}) {
    EXPECT_EQ(platform::readFile(m(), kExchange + "\\" + name), platform::readFile(m(), std::string("C:\\WINDOWS\\") + name))
        << name;
  }
  EXPECT_EQ(platform::readFile(m(), kExchange + "\\Classes.dat"), "left by an ME backup");
  EXPECT_THAT(t.newLines(), ElementsAre("status: Creating info file...", "status: Preparing necessary files...",
                                        "status: Done ."));
  // The next Write to file replaces the read-only copy of User.dat again.
  platform::writeFile(m(), "C:\\WINDOWS\\Win.ini", "[windows]\r\nnew=1\r\n");
  main->cmdWriteFile->userClick();
  EXPECT_EQ(platform::readFile(m(), kExchange + "\\Win.ini"), "[windows]\r\nnew=1\r\n");
}

TEST_F(Screens, UnsafeAndEmptyNamesStartNothing) {
  start();
  main->txtComments->userType("c");
  main->cmdWriteFile->userClick();
  for (const std::string& name : {std::string("..\\..\\WINDOWS\\x"), std::string("a:b"), std::string(""),
                                  std::string(" x"), std::string("x ")}) {
    SCOPED_TRACE(name);
    main->txtNameFileBackup->userType(name == "" ? "y" : name);
    main->txtNameFileBackup->userType(name);
    t.newLines();
    const int64_t before = t.clock.nowMs();
    main->cmdMakeBackup->userClick();
    auto seen = t.newLines();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_THAT(seen[0], HasSubstr("message: Brakvel 9x | exclamation | "));
    EXPECT_EQ(t.clock.nowMs(), before);
    EXPECT_FALSE(main->tmrMakeCab.enabled());
  }
  EXPECT_FALSE(started());
  EXPECT_FALSE(platform::fileExists(m(), kProgram + "\\util\\kvt.ddf"));
}

TEST_F(Screens, AMakerThatCannotBeStartedIsReported) {
  // This machine has no command interpreter to run kvt.bat.
  start();
  main->txtComments->userType("c");
  main->cmdWriteFile->userClick();
  main->txtNameFileBackup->userType("first");
  t.newLines();
  const int64_t before = t.clock.nowMs();
  main->cmdMakeBackup->userClick();
  EXPECT_EQ(t.clock.nowMs() - before, 1500);  // the two pauses
  auto seen = t.newLines();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_THAT(std::vector<std::string>(seen.begin(), seen.begin() + 3),
              ElementsAre("status: Creating directive...", "status: Creating archive , please wait...",
                          "start: hidden \"C:\\Program Files\\Brakvel 9x\\util\\kvt.bat\""));
  EXPECT_THAT(seen[3], HasSubstr("message: Brakvel 9x | exclamation | The backup archive was not created .\\r\\n"));
  EXPECT_THAT(seen[3], HasSubstr("COMMAND.COM"));
  EXPECT_FALSE(main->tmrMakeCab.enabled());
  EXPECT_EQ(platform::readFile(m(), kProgram + "\\util\\kvt.bat"),
            "@Echo Off\r\n\"C:\\Program Files\\Brakvel 9x\\util\\Makecab.exe\" /f "
            "\"C:\\Program Files\\Brakvel 9x\\util\\kvt.ddf\"\r\n");
}

TEST_F(Screens, WindowsBackupScreenRefusesWhatCannotWork) {
  platform::writeFile(m(), "C:\\WINDOWS\\Sysbckup\\rb000.cab", "not read here");
  start();
  EXPECT_FALSE(main->cmdImportWin->enabled());
  EXPECT_FALSE(main->txtWinNameFileBackup->enabled());
  // Any click on the list enables Convert, a selection or not.
  main->lvwWinBackup->userClick();
  ASSERT_TRUE(main->cmdImportWin->enabled());
  main->cmdImportWin->userClick();
  EXPECT_THAT(t.newLines(), ElementsAre("message: Brakvel 9x | exclamation | Please choose a Windows backup from "
                                        "the list first ."));
  // Create backup before any conversion.
  main->txtWinComments->userType("c");
  EXPECT_TRUE(main->cmdWinClearComments->enabled());
  main->cmdWinWriteComments->userClick();
  EXPECT_TRUE(main->txtWinNameFileBackup->enabled());
  main->txtWinNameFileBackup->userType("win");
  t.newLines();
  main->cmdWinMakeBackup->userClick();
  auto seen = t.newLines();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_THAT(seen[0], HasSubstr("Please convert a Windows backup first"));
  EXPECT_FALSE(started());
}

}  // namespace
