// Inspection, preparation, restore, undo and the restart dialog, with the
// real extractor and the real restart on a machine from brakvel9x-machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Station.h"
#include "platform/files.h"
#include "platform/text.h"

using station::kProgram;
using station::kWin;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

class Flow : public testing::Test {
 protected:
  station::Station s;
  std::string archive;

  // Backup of the live set, then a restore prepared from it.
  void prepare(const std::map<std::string, std::string>& replace = {}) {
    archive = s.makeArchive("first", "a\r\nb\r\nc\r\n", replace);
    s.main->tlbCmdRestore_Click();
    s.selectArchive(s.main->lvwRestore, archive);
    s.main->cmdPrepareRestore->userClick();
    ASSERT_TRUE(s.settle());
  }
  std::map<std::string, std::string> liveSet() {
    std::map<std::string, std::string> m;
    for (const std::string& n : s.set()) m[n] = s.read(kWin + "\\" + n);
    return m;
  }
};

TEST_F(Flow, InspectionShowsTheArchiveInBothBoxesAndLeavesExchangeAlone) {
  s.write(kProgram + "\\Exchange\\info.txt", "a backup being composed");
  archive = s.makeArchive("first", "a\r\nb\r\nc\r\n");
  s.take("");
  s.selectArchive(s.main->lvwRestore, archive);
  EXPECT_EQ(s.main->txtFileRestoreInfo->text(), "Please ,wait for archive info...");
  EXPECT_TRUE(s.main->cmdPrepareRestore->enabled());
  EXPECT_THAT(s.take("start:"),
              ElementsAre("start: hidden \"C:\\Program Files\\Brakvel 9x\\util\\pux.exe\" "
                          "C:\\PROGRA~1\\BRAKVE~1\\ARCHIVE\\FIRST.KVT /Y /L C:\\PROGRA~1\\BRAKVE~1\\INSPECT info.txt"));
  ASSERT_TRUE(s.settle());
  EXPECT_EQ(s.main->txtFileRestoreInfo->text(), "\r\na\r\nb\r\nc");
  EXPECT_EQ(s.main->txtDiskFileInfo->text(), "\r\na\r\nb\r\nc");
  EXPECT_EQ(s.main->SBar->text(), "Done .");
  EXPECT_EQ(s.read(kProgram + "\\Exchange\\info.txt"), "a backup being composed");
  EXPECT_FALSE(s.main->cmdRestore->enabled());

  // The rescue screen's list shows the other archive's text in both boxes.
  std::string second = s.makeArchive("second", "");
  s.selectArchive(s.main->lvwRescueDisk, second);
  EXPECT_EQ(s.main->txtDiskFileInfo->text(), "Please ,wait for archive info...");
  ASSERT_TRUE(s.settle());
  EXPECT_EQ(s.main->txtDiskFileInfo->text(), "");
  EXPECT_EQ(s.main->txtFileRestoreInfo->text(), "");
  EXPECT_TRUE(s.main->cmdPrepareDisk->enabled());
}

TEST_F(Flow, PreparationEnablesRestoreOnlyWhenTheWholeSetCameOut) {
  archive = s.makeArchive("first", "x\r\n");
  s.selectArchive(s.main->lvwRestore, archive);
  ASSERT_TRUE(s.settle());
  s.take("");
  s.main->cmdPrepareRestore->userClick();
  EXPECT_THAT(s.take(""),
              ElementsAre("status: Preparing restore files...",
                          "start: hidden \"C:\\Program Files\\Brakvel 9x\\util\\pux.exe\" "
                          "C:\\PROGRA~1\\BRAKVE~1\\ARCHIVE\\FIRST.KVT /Y /E /L C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE",
                          "status: Done ."));
  EXPECT_FALSE(s.main->cmdRestore->enabled());
  ASSERT_TRUE(s.settle());
  EXPECT_TRUE(s.main->cmdRestore->enabled());
  EXPECT_EQ(s.main->SBar->text(), "Done .");

  // An archive that lacks User.dat: the set prepared before stays whole
  // (not the new System.dat beside the old User.dat), and "Restore system"
  // waits for a good preparation.
  std::map<std::string, std::string> prepared;
  for (const std::string& n : s.set()) prepared[n] = s.read(kProgram + "\\Exchange\\" + n);
  std::string broken = s.makeArchive("broken", "y\r\n", {{"User.dat", ""}, {"System.dat", "another System.dat"}});
  s.selectArchive(s.main->lvwRestore, broken);
  ASSERT_TRUE(s.settle());
  s.main->cmdPrepareRestore->userClick();
  EXPECT_FALSE(s.main->cmdRestore->enabled());
  ASSERT_TRUE(s.settle());
  EXPECT_FALSE(s.main->cmdRestore->enabled());
  for (auto& [n, bytes] : prepared) EXPECT_EQ(s.read(kProgram + "\\Exchange\\" + n), bytes) << n;
  auto messages = s.take("message:");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_THAT(messages[0], HasSubstr("exclamation"));
  EXPECT_THAT(messages[0], HasSubstr("User.dat"));
}

TEST_F(Flow, RescuePreparationGoesIntoRescue) {
  archive = s.makeArchive("first", "x\r\n");
  s.main->tlbCmdRescueDisk_Click();
  s.selectArchive(s.main->lvwRescueDisk, archive);
  ASSERT_TRUE(s.settle());
  s.take("");
  s.main->cmdPrepareDisk->userClick();
  EXPECT_THAT(s.take("start:"),
              ElementsAre("start: hidden \"C:\\Program Files\\Brakvel 9x\\util\\pux.exe\" "
                          "C:\\PROGRA~1\\BRAKVE~1\\ARCHIVE\\FIRST.KVT /Y /E /L C:\\PROGRA~1\\BRAKVE~1\\RESCUE"));
  EXPECT_FALSE(s.main->cmdMakeDisk->enabled());
  ASSERT_TRUE(s.settle());
  EXPECT_TRUE(s.main->cmdMakeDisk->enabled());
  for (const std::string& n : s.set())
    EXPECT_EQ(s.read(kProgram + "\\Rescue\\" + n), s.read(kWin + "\\" + n)) << n;
}

TEST_F(Flow, RestoreRestartUndoRestart) {
  auto backup = liveSet();
  prepare();
  // The system changes after the backup.
  s.write(kWin + "\\System.dat", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Changed]\r\n\r\n");
  s.write(kWin + "\\Win.ini", "[windows]\r\nload=changed.exe\r\n");
  auto changed = liveSet();
  s.take("");
  s.desktop.answers.push_back("Yes, reboot my computer now");
  s.restartOnModal();
  s.main->cmdRestore->userClick();
  EXPECT_THAT(s.take(""), testing::IsSupersetOf({"status: Creating undo...", "status: Done .", "dialog: frmRestart",
                                                 "start: minimized-focus C:\\WINDOWS\\RUNDLL32.EXE shell32.dll,SHExitWindowsEx 2"}));
  for (auto& [n, bytes] : backup) EXPECT_EQ(s.read(kWin + "\\" + n), bytes) << n;
  for (auto& [n, bytes] : changed) EXPECT_EQ(s.read(kProgram + "\\undo\\" + n), bytes) << n;
  EXPECT_FALSE(s.exists(kWin + "\\WinInit.ini"));
  std::string staged = "[Rename]\r\n";
  for (const std::string& n : s.set())
    staged += "C:\\WINDOWS\\" + platform::upperAnsi(n) + "=C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE\\" + platform::upperAnsi(n) + "\r\n";
  EXPECT_EQ(s.read(kWin + "\\WinInit.bak"), staged);

  s.desktop.answers.push_back("Yes, reboot my computer now");
  s.main->tlbCmdUndo_Click();
  s.main->SmartNetButton2->userClick();
  for (auto& [n, bytes] : changed) EXPECT_EQ(s.read(kWin + "\\" + n), bytes) << n;
  EXPECT_THAT(s.read(kWin + "\\WinInit.bak"), HasSubstr("=C:\\PROGRA~1\\BRAKVE~1\\UNDO\\SYSTEM.DAT\r\n"));
}

TEST_F(Flow, CancelKeepsAnotherProgramsLines) {
  const std::string theirs = "[Rename]\r\nNUL=C:\\WINDOWS\\TEMP\\SETUP.TMP\r\n";
  s.write(kWin + "\\WinInit.ini", theirs);
  prepare();
  s.desktop.answers.push_back("No, I'll reboot my computer later");
  s.main->cmdRestore->userClick();
  s.desktop.answers.push_back("No, cancel restore command");
  s.main->SmartNetButton2->userClick();  // the undo, staged after the restore
  EXPECT_EQ(s.read(kWin + "\\WinInit.ini"), theirs);
  for (const std::string& n : s.set()) EXPECT_TRUE(s.exists(kProgram + "\\undo\\" + n)) << n;
}

TEST_F(Flow, CancelDeletesAFileThatHoldsOnlyOurs) {
  prepare();
  s.desktop.answers.push_back("No, cancel restore command");
  s.main->cmdRestore->userClick();
  EXPECT_FALSE(s.exists(kWin + "\\WinInit.ini"));
  EXPECT_EQ(s.program->loadedForm("frmRestart"), nullptr);
}

TEST_F(Flow, LaterKeepsTheLinesAndCloses) {
  prepare();
  s.desktop.answers.push_back("No, I'll reboot my computer later");
  s.main->cmdRestore->userClick();
  EXPECT_EQ(platform::readLines(*s.machine, kWin + "\\WinInit.ini").size(), 5u);
  EXPECT_EQ(s.program->loadedForm("frmRestart"), nullptr);
}

TEST_F(Flow, RestoreWithAMissingExchangeFileStagesNothing) {
  prepare();
  s.remove(kProgram + "\\Exchange\\Win.ini");
  s.take("");
  s.main->cmdRestore->userClick();
  auto lines = s.take("");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], HasSubstr("exclamation"));
  EXPECT_THAT(lines[0], HasSubstr("Exchange\\Win.ini"));
  EXPECT_FALSE(s.exists(kWin + "\\WinInit.ini"));
}

TEST_F(Flow, UndoWithoutCopiesNamesTheMissingOne) {
  s.take("");
  s.main->SmartNetButton2->userClick();
  auto lines = s.take("");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], HasSubstr("undo\\System.dat"));
  EXPECT_FALSE(s.exists(kWin + "\\WinInit.ini"));
}

TEST_F(Flow, ARestartThatCannotStartIsReported) {
  prepare();
  if (s.exists(kWin + "\\RUNDLL32.EXE")) s.remove(kWin + "\\RUNDLL32.EXE");
  s.desktop.answers.push_back("Yes, reboot my computer now");
  int modal = 0;
  s.desktop.onModal = [&](app::Form& f) {
    ++modal;
    f.Unload();
  };
  s.take("");
  s.main->cmdRestore->userClick();
  auto messages = s.take("message:");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_THAT(messages[0], HasSubstr("Windows could not be restarted"));
  EXPECT_EQ(modal, 1);  // the dialog stayed open for another choice
}

}  // namespace
