// Whole backups on machines made by brakvel9x-machine, with the real cabinet
// maker, extractor and command interpreter, checked with cabextract.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <regex>

#include "RealMachine.h"
#include "platform/files.h"
#include "platform/registry/registry.h"

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::HasSubstr;

namespace {

using namespace backuptest;

const std::regex kCreatedLine(R"(Backup created at : \d{1,2}/\d{1,2}/\d{4}   \d{1,2}:\d\d:\d\d [AP]M)");
const char* kSuccess = "message: Brakvel 9x | information | Backup archive successfully created .";

std::vector<std::string> crlfLines(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  for (size_t e; (e = text.find("\r\n", at)) != std::string::npos; at = e + 2) out.push_back(text.substr(at, e - at));
  return out;
}

std::vector<std::string> expectedMembers(bool me) {
  std::vector<std::string> names;
  if (me) names.push_back("Classes.dat");
  for (const char* n : {"System.dat", "User.dat", "System.ini", "Win.ini", "info.txt"}) names.push_back(n);
  return names;
}

std::string expectedDdf(const std::string& p, const std::string& name, bool me) {
  std::string text = ".OPTION EXPLICIT\r\n.Set Cabinet=on\r\n.set Compress=on\r\n.Set MaxDiskSize=CDROM\r\n"
                     ".set ReservePerCabinetSize=6144\r\n.Set DiskDirectoryTemplate=" +
                     p + "\\archive\r\n.Set CompressionType=MSZip\r\n.Set CompressionLevel=7\r\n"
                     ".Set CompressionMemory=21\r\n.Set CabinetNameTemplate=" +
                     name + ".kvt\r\n";
  for (const auto& m : expectedMembers(me)) text += "\"" + p + "\\Exchange\\" + m + "\"\r\n";
  return text;
}

// The live files of the set and the information file, as the archive must
// hold them.
void expectArchiveHolds(Headless& h, const std::string& archive, bool me, const std::string& comments) {
  RealMachine& rm = h.rm;
  const fs::path cab = rm.host(archive);
  ASSERT_TRUE(fs::exists(cab)) << archive;
  EXPECT_TRUE(cabTests(cab));
  EXPECT_THAT(cabMembers(cab), ElementsAreArray(expectedMembers(me)));
  const fs::path out = cabExtract(cab, rm.dir / "check");
  for (const auto& name : expectedMembers(me)) {
    const std::string live = name == "info.txt" ? kProgram + "\\Exchange\\info.txt" : "C:\\WINDOWS\\" + name;
    EXPECT_EQ(slurp(out / name), platform::readFile(rm.machine(), live)) << name;
  }
  auto info = crlfLines(slurp(out / "info.txt"));
  ASSERT_GE(info.size(), 9u);
  EXPECT_TRUE(std::regex_match(info[0], kCreatedLine)) << info[0];
  EXPECT_EQ(info[2], "Programs ,that were installed on your computer at backup time :");
  const std::vector<std::string> programs(info.begin() + 4, info.end() - 5);
  // The machine's Uninstall key: names with a DisplayName text, twins kept,
  // others (QuietDisplayName, an expandable text) left out.
  EXPECT_THAT(programs, testing::Contains("WinZip 8.0"));
  EXPECT_THAT(programs, testing::Contains("Brakvel 9x"));
  EXPECT_EQ(std::count(programs.begin(), programs.end(), "Microsoft Visual Basic 6.0 Runtime"), 2);
  EXPECT_THAT(programs, testing::Not(testing::Contains("Address Book")));
  EXPECT_THAT(programs, testing::Not(testing::Contains("RealPlayer 8 Basic")));
  EXPECT_THAT(std::vector<std::string>(info.end() - 5, info.end()),
              ElementsAre("", "", "Additional comments :", "", comments));
  fs::remove_all(out);
}

void backUp(Headless& h, const std::string& name, const std::string& comments) {
  app::frmGlavni& w = *h.main;
  w.cmdNewBackup->userClick();
  w.cmdSystemInfo->userClick();
  w.txtComments->userType(comments);
  w.cmdWriteFile->userClick();
  w.txtNameFileBackup->userType(name);
  w.cmdMakeBackup->userClick();
  ASSERT_TRUE(h.waitForTools());
}

class FullBackup : public testing::TestWithParam<bool> {};

TEST_P(FullBackup, ArchiveHoldsTheLiveSystemFilesAndTheInformation) {
  const bool me = GetParam();
  RealMachine rm(me);
  Headless h(rm);
  ASSERT_EQ(h.main->HasClassesDat, me);
  h.newLines();
  backUp(h, "Before update", "before the driver update");
  // What follows the Create button (the status-bar timer may clear the line
  // in between).
  auto seen = h.newLines();
  seen.erase(std::remove(seen.begin(), seen.end(), "status: "), seen.end());
  auto from = std::find(seen.begin(), seen.end(), "status: Creating directive...");
  EXPECT_THAT(std::vector<std::string>(from, seen.end()),
              ElementsAre("status: Creating directive...", "status: Creating archive , please wait...",
                          "start: hidden \"C:\\Program Files\\Brakvel 9x\\util\\kvt.bat\"", "status: Done .", kSuccess));
  EXPECT_THAT(h.messages(), ElementsAre(kSuccess));
  EXPECT_FALSE(h.main->tmrMakeCab.enabled());
  expectArchiveHolds(h, kProgram + "\\archive\\Before update.kvt", me, "before the driver update");
  EXPECT_EQ(platform::readFile(rm.machine(), kProgram + "\\util\\kvt.ddf"), expectedDdf(kProgram, "Before update", me));
  EXPECT_EQ(platform::readFile(rm.machine(), kProgram + "\\util\\kvt.bat"),
            "@Echo Off\r\n\"C:\\Program Files\\Brakvel 9x\\util\\Makecab.exe\" /f "
            "\"C:\\Program Files\\Brakvel 9x\\util\\kvt.ddf\"\r\n");

  // The lists show it once their screens are opened; the same name again
  // replaces the archive.
  EXPECT_TRUE(h.main->lvwRestore->rows().empty());
  // The date column in the machine's (US default) short date and time.
  platform::setLastModified(rm.machine(), kProgram + "\\archive\\Before update.kvt",
                            platform::DateTime{2004, 3, 9, 14, 5, 8});
  h.main->tlbCmdRestore_Click();
  h.main->tlbCmdRescueDisk_Click();
  for (app::Control* list : {h.main->lvwRestore, h.main->lvwRescueDisk}) {
    ASSERT_EQ(list->rows().size(), 1u);
    EXPECT_EQ(list->rows()[0].text, "Before update.kvt");
    EXPECT_EQ(list->rows()[0].key, kProgram + "\\archive\\Before update.kvt");
    EXPECT_EQ(list->rows()[0].subItem, "3/9/2004 2:05:08 PM");
  }
  h.main->cmdMakeBackup->userClick();
  ASSERT_TRUE(h.waitForTools());
  EXPECT_THAT(h.messages(), ElementsAre(kSuccess, kSuccess));
  h.main->tlbCmdRestore_Click();
  EXPECT_EQ(h.main->lvwRestore->rows().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Windows98AndME, FullBackup, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ME" : "Win98"; });

TEST(ProgramFolder, WithoutBlanksTheDirectiveIsTheSameShape) {
  RealMachine rm(false);
  const std::string p = "C:\\KVT";
  for (const char* sub : {"\\archive", "\\Exchange", "\\util"}) platform::makeFolder(rm.machine(), p + sub);
  for (const char* tool : {"\\util\\Makecab.exe", "\\util\\pux.exe"})
    fs::create_symlink(fs::read_symlink(rm.host(kProgram + tool)), rm.host(p + tool));
  Headless h(rm, p);
  backUp(h, "plain", "no blanks");
  EXPECT_THAT(h.messages(), ElementsAre(kSuccess));
  EXPECT_EQ(platform::readFile(rm.machine(), p + "\\util\\kvt.bat"),
            "@Echo Off\r\n\"C:\\KVT\\util\\Makecab.exe\" /f \"C:\\KVT\\util\\kvt.ddf\"\r\n");
  EXPECT_EQ(platform::readFile(rm.machine(), p + "\\util\\kvt.ddf"), expectedDdf(p, "plain", false));
  EXPECT_TRUE(cabTests(rm.host(p + "\\archive\\plain.kvt")));
}

TEST(MakerFailure, AMissingSourceIsReportedNotCelebrated) {
  RealMachine rm(false);
  Headless h(rm);
  app::frmGlavni& w = *h.main;
  w.cmdSystemInfo->userClick();
  w.txtComments->userType("c");
  w.cmdWriteFile->userClick();
  platform::deleteFile(rm.machine(), kProgram + "\\Exchange\\Win.ini");
  w.txtNameFileBackup->userType("broken");
  w.cmdMakeBackup->userClick();
  ASSERT_TRUE(h.waitForTools());
  auto messages = h.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_THAT(messages[0], HasSubstr("message: Brakvel 9x | exclamation | The backup archive was not created .\\r\\n"));
  EXPECT_THAT(messages[0], HasSubstr("Win.ini"));
  EXPECT_FALSE(platform::fileExists(rm.machine(), kProgram + "\\archive\\broken.kvt"));
  EXPECT_EQ(w.SBar->text(), "Done .");
}

// --- Windows backups ---------------------------------------------------------------

std::vector<std::pair<std::string, std::string>> windowsSet(bool me, const std::string& tag, bool withUser = true) {
  std::vector<std::pair<std::string, std::string>> set;
  if (me) set.emplace_back("CLASSES.DAT", "REGEDIT4\r\n\r\n; classes " + tag + "\r\n");
  set.emplace_back("SYSTEM.DAT", "REGEDIT4\r\n\r\n; system " + tag + "\r\n" + std::string(5000, 'x'));
  if (withUser) set.emplace_back("USER.DAT", "REGEDIT4\r\n\r\n; user " + tag + "\r\n");
  set.emplace_back("SYSTEM.INI", "[boot]\r\n; " + tag + "\r\n");
  set.emplace_back("WIN.INI", "[windows]\r\n; " + tag + "\r\n");
  return set;
}

class WindowsBackup : public testing::TestWithParam<bool> {};

TEST_P(WindowsBackup, ConvertedIntoAnArchiveAndAnIncompleteOneRefused) {
  const bool me = GetParam();
  RealMachine rm(me);
  const std::string sysbckup = "C:\\WINDOWS\\Sysbckup";
  // Our own Windows backups in place of those the new machine came with.
  for (const auto& e : fs::directory_iterator(rm.host(sysbckup))) fs::remove_all(e.path());
  makeWindowsCab(rm.host(sysbckup + "\\rb000.cab"), windowsSet(me, "good"), rm.dir / "scratch0");
  makeWindowsCab(rm.host(sysbckup + "\\rb001.cab"), windowsSet(me, "no user", false), rm.dir / "scratch1");
  platform::writeFile(rm.machine(), sysbckup + "\\setup.log", "not a backup");
  // Left in the exchange folder by an earlier backup.
  platform::writeFile(rm.machine(), kProgram + "\\Exchange\\User.dat", "stale");
  platform::writeFile(rm.machine(), kProgram + "\\Exchange\\Classes.dat", "stale");

  Headless h(rm);
  app::frmGlavni& w = *h.main;
  ASSERT_EQ(w.lvwWinBackup->rows().size(), 2u);
  EXPECT_EQ(w.lvwWinBackup->rows()[0].text, "Winbackup1");
  EXPECT_EQ(w.lvwWinBackup->rows()[1].key, sysbckup + "\\rb001.cab");
  w.tlbCmdWinBackup_Click();
  // The information first, then the conversion: info.txt survives it.
  w.cmdWinSysInfo->userClick();
  w.txtWinComments->userType("from Windows' own backup");
  w.cmdWinWriteComments->userClick();
  h.newLines();
  w.lvwWinBackup->userSelectRow(0);
  w.cmdImportWin->userClick();
  const std::string k = rm.machine().shortPath(sysbckup + "\\rb000.cab");
  const std::string s = rm.machine().shortPath(kProgram);
  EXPECT_THAT(h.newLines(), ElementsAre("status: Converting Windows backup...",
                                        "start: hidden \"C:\\Program Files\\Brakvel 9x\\util\\pux.exe\" " + k +
                                            " /Y /E /L " + s + "\\Exchange\\",
                                        "status: Done ."));
  ASSERT_TRUE(h.waitForTools());
  EXPECT_TRUE(w.WinBackupConverted);
  EXPECT_TRUE(platform::fileExists(rm.machine(), kProgram + "\\Exchange\\info.txt"));
  w.txtWinNameFileBackup->userType("From Windows");
  w.cmdWinMakeBackup->userClick();
  ASSERT_TRUE(h.waitForTools());
  EXPECT_THAT(h.messages(), ElementsAre(kSuccess));

  const fs::path cab = rm.host(kProgram + "\\archive\\From Windows.kvt");
  EXPECT_TRUE(cabTests(cab));
  EXPECT_THAT(cabMembers(cab), ElementsAreArray(expectedMembers(me)));
  const fs::path out = cabExtract(cab, rm.dir / "out");
  for (const auto& [name, content] : windowsSet(me, "good")) {
    std::string member = name == "CLASSES.DAT" ? "Classes.dat"
                         : name == "SYSTEM.DAT" ? "System.dat"
                         : name == "USER.DAT"   ? "User.dat"
                         : name == "SYSTEM.INI" ? "System.ini"
                                                : "Win.ini";
    EXPECT_EQ(slurp(out / member), content) << member;
  }
  EXPECT_THAT(slurp(out / "info.txt"), HasSubstr("from Windows' own backup\r\n"));

  // A Windows backup without User.dat: the stale copy is gone, nothing is made.
  platform::writeFile(rm.machine(), kProgram + "\\Exchange\\User.dat", "stale");
  w.lvwWinBackup->userSelectRow(1);
  w.cmdImportWin->userClick();
  ASSERT_TRUE(h.waitForTools());
  EXPECT_FALSE(platform::fileExists(rm.machine(), kProgram + "\\Exchange\\User.dat"));
  w.txtWinNameFileBackup->userType("Mixed");
  h.newLines();
  w.cmdWinMakeBackup->userClick();
  EXPECT_THAT(h.newLines(), ElementsAre("message: Brakvel 9x | exclamation | The converted Windows backup lacks "
                                        "User.dat , so no archive was created ."));
  EXPECT_FALSE(platform::fileExists(rm.machine(), kProgram + "\\archive\\Mixed.kvt"));
}

TEST_P(WindowsBackup, AFailedExtractionAllowsNoArchive) {
  const bool me = GetParam();
  RealMachine rm(me);
  for (const auto& e : fs::directory_iterator(rm.host("C:\\WINDOWS\\Sysbckup"))) fs::remove_all(e.path());
  platform::writeFile(rm.machine(), "C:\\WINDOWS\\Sysbckup\\rb000.cab", "MSCF but not really a cabinet");
  Headless h(rm);
  app::frmGlavni& w = *h.main;
  w.lvwWinBackup->userSelectRow(0);
  w.cmdImportWin->userClick();
  ASSERT_TRUE(h.waitForTools());
  EXPECT_FALSE(w.WinBackupConverted);
  ASSERT_EQ(h.messages().size(), 1u);
  EXPECT_THAT(h.messages()[0], HasSubstr("| exclamation | The Windows backup was not converted : pux.exe failed "
                                          "with exit status 1 .\\r\\npux: C:\\WINDOWS\\SYSBCKUP\\RB000.CAB"));
  w.txtWinComments->userType("c");
  w.cmdWinWriteComments->userClick();
  w.txtWinNameFileBackup->userType("none");
  w.cmdWinMakeBackup->userClick();
  EXPECT_THAT(h.messages().back(), HasSubstr("Please convert a Windows backup first"));
  EXPECT_FALSE(platform::fileExists(rm.machine(), kProgram + "\\util\\kvt.ddf"));
}

INSTANTIATE_TEST_SUITE_P(Windows98AndME, WindowsBackup, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ME" : "Win98"; });

// --- the file type -----------------------------------------------------------------

TEST(FileType, RegisteredOnTheFirstStartOnly) {
  RealMachine rm(false);
  using namespace platform::reg;
  EXPECT_EQ(changeNotifyCount(rm.machine(), SHCNE_ASSOCCHANGED), 0);
  {
    Headless first(rm);
    EXPECT_EQ(changeNotifyCount(rm.machine(), SHCNE_ASSOCCHANGED), 1);
    Registry& reg = *first.registry;
    HKEY h = 0;
    ASSERT_EQ(reg.RegOpenKeyEx(HKEY_CLASSES_ROOT, "Brakvel\\shell\\open\\command", 0x20019, &h), ERROR_SUCCESS);
    char buf[300] = {};
    uint32_t type = 0, size = sizeof buf;
    ASSERT_EQ(reg.RegQueryValueEx(h, "", &type, buf, &size), ERROR_SUCCESS);
    EXPECT_STREQ(buf, "C:\\Program Files\\Brakvel 9x\\Brakvel 9x.exe %1");
    reg.RegCloseKey(h);
  }
  for (int i = 0; i < 2; ++i) {
    Headless again(rm);
    EXPECT_EQ(changeNotifyCount(rm.machine(), SHCNE_ASSOCCHANGED), 1);
  }
}

// --- the script driver -------------------------------------------------------------

TEST(ScriptDriver, FullBackupThroughAScript) {
  RealMachine rm(false);
  const fs::path script = rm.dir / "backup.txt";
  std::ofstream(script, std::ios::binary) << "# a whole backup\n"
                                             "click cmdNewBackup\n"
                                             "click cmdSystemInfo\n"
                                             "click txtComments\n"
                                             "type txtComments before the driver update\n"
                                             "click cmdWriteFile\n"
                                             "type txtNameFileBackup Before update\n"
                                             "click cmdMakeBackup\n"
                                             "wait\n"
                                             "type txtNameFileBackup a:b\n"
                                             "click cmdMakeBackup\n"
                                             "click tlbCmdRestore\n"
                                             "close\n";
  testsupport::Ran r = testsupport::run({BRAKVEL9X_SCRIPT, script.string()}, std::chrono::seconds(300),
                                        {.machine = rm.dir, .mergeOutput = true});
  ASSERT_EQ(r.status, 0) << r.out;
  std::vector<std::string> lines;
  std::istringstream in(r.out);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  // The status-bar timer may clear the line between steps, as time goes.
  lines.erase(std::remove(lines.begin(), lines.end(), "status: "), lines.end());
  auto from = std::find(lines.begin(), lines.end(), "dialog: frmGlavni");
  ASSERT_NE(from, lines.end()) << r.out;
  EXPECT_THAT(std::vector<std::string>(from + 1, lines.end()),
              ElementsAre("status: Removing old information...", "status: Done .",
                          "status: Getting system info...", "status: Done .", "status: Enter your notes ,please...",
                          "status: Creating info file...", "status: Preparing necessary files...", "status: Done .",
                          "status: Creating directive...", "status: Creating archive , please wait...",
                          "start: hidden \"C:\\Program Files\\Brakvel 9x\\util\\kvt.bat\"", "status: Done .", kSuccess,
                          "message: Brakvel 9x | exclamation | The backup file name contains the character : , "
                          "which cannot stand in a file name .",
                          "screen: fraRestore", "exit"))
      << r.out;
  const fs::path cab = rm.host(kProgram + "\\archive\\Before update.kvt");
  EXPECT_TRUE(cabTests(cab));
  EXPECT_THAT(cabMembers(cab), ElementsAreArray(expectedMembers(false)));
}

}  // namespace
