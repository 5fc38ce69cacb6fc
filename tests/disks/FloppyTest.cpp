// The rescue and reinstall floppies: A:\Autoexec.bat byte for byte, the
// disk archive extracted onto A:, and floppies that cannot be written.
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

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) s.replace(at, from.size(), to);
  return s;
}

// The rescue batch: (F) marks the lines written only with Classes.dat.
const char* const kRescue[] = {
    "@ECHO OFF", "CLS",
    "(F)ECHO ACCESSING BACKUP FILE CLASSES.DAT .....",
    "(F)ATTRIB {P}\\RESCUE\\CLASSES.DAT -R -A -H -S",
    "(F)ATTRIB {W}\\CLASSES.DAT -R -A -H -S",
    "ECHO ACCESSING BACKUP FILE SYSTEM.DAT .....",
    "ATTRIB {P}\\RESCUE\\SYSTEM.DAT -R -A -H -S",
    "ATTRIB {W}\\SYSTEM.DAT -R -A -H -S",
    "ECHO ACCESSING BACKUP FILE USER.DAT .....",
    "ATTRIB {P}\\RESCUE\\USER.DAT -R -A -H -S",
    "ATTRIB {W}\\USER.DAT -R -A -H -S",
    "(F)IF EXIST {P}\\RESCUE\\CLASSES.DAT GOTO COPYCLASSES",
    "(F):RET1",
    "IF EXIST {P}\\RESCUE\\SYSTEM.DAT GOTO COPYSYSDAT", ":RET2",
    "IF EXIST {P}\\RESCUE\\USER.DAT GOTO COPYUSRDAT", ":RET3",
    "IF EXIST {P}\\RESCUE\\SYSTEM.INI GOTO COPYSYSINI", ":RET4",
    "IF EXIST {P}\\RESCUE\\WIN.INI GOTO COPYWININI", "GOTO BRLJOTINA", "",
    ":COPYCLASSES", "COPY {P}\\RESCUE\\CLASSES.DAT {W}", "ATTRIB {P}\\RESCUE\\CLASSES.DAT +R +A +H +S",
    "ATTRIB {W}\\CLASSES.DAT +R +A +H +S", "GOTO RET1", "",
    ":COPYSYSDAT", "COPY {P}\\RESCUE\\SYSTEM.DAT {W}", "ATTRIB {P}\\RESCUE\\SYSTEM.DAT +R +A +H +S",
    "ATTRIB {W}\\SYSTEM.DAT +R +A +H +S", "GOTO RET2", "",
    ":COPYUSRDAT", "COPY {P}\\RESCUE\\USER.DAT {W}", "ATTRIB {P}\\RESCUE\\USER.DAT +R +A +H +S",
    "ATTRIB {W}\\USER.DAT +R +A +H +S", "GOTO RET3", "",
    ":COPYSYSINI", "COPY {P}\\RESCUE\\SYSTEM.INI {W}", "GOTO RET4", "",
    ":COPYWININI", "COPY {P}\\RESCUE\\WIN.INI {W}", "GOTO END", "",
    ":BRLJOTINA", "ECHO *", "ECHO FILE NOT FOUND !", "ECHO *", "GOTO KRAJ", "",
    ":END", "ECHO *", "ECHO SYSTEM FILES RESTORATION WAS SUCCESSFULL.", "ECHO IN CASE OF 'FILE NOT FOUND' MESSAGE",
    "ECHO PLEASE,CONSULT QUALIFIED TECHNICAL SUPPORT.", "ECHO *", "GOTO X", "",
    ":KRAJ", "ECHO *", "ECHO PLEASE,CONSULT QUALIFIED TECHNICAL SUPPORT...", "ECHO *", "",
    ":X", "ECHO PLEASE ,REMOVE DISK AFTER SYSTEM REBOOT...", "PAUSE", "DOSRESET.COM", "",
};

const char* const kReinstall[] = {
    "@ECHO OFF", "PROMPT=$P$G", "PATH=A:\\", "SET DIRCMD=/OGNES", "LH MSCDEX.EXE /D:MSCD001 /L:X",
    "LH DOSKEY /INS", "LH SMARTDRV", "", "", "", "CLS",
    "ECHO.  Deleting your test Windows directory",
    "ECHO.  Depending of your system speed and size",
    "ECHO.  of your Windows directory it may take from",
    "ECHO.  few minutes to few hours",
    "ECHO.  Please ,wait...", "ECHO.", "DELTREE /Y {W}", "(F)DELTREE /Y {D}\\_restore",
    "ECHO.  Windows directory successfully deleted .", "ECHO.", ":RET4",
    "ECHO.  Starting new Windows instalation ,", "ECHO.  please follow onscreen instructions...", "ECHO.",
    "X:\\SETUP",
};

template <size_t N>
std::string expected(const char* const (&table)[N], bool flag, const std::string& p, const std::string& w,
                     size_t* count) {
  std::string text;
  *count = 0;
  for (const char* raw : table) {
    std::string line = raw;
    if (line.rfind("(F)", 0) == 0) {
      if (!flag) continue;
      line = line.substr(3);
    }
    line = replaceAll(replaceAll(replaceAll(line, "{P}", p), "{W}", w), "{D}", w.substr(0, 2));
    text += line + "\r\n";
    ++*count;
  }
  return text;
}

struct Disk {
  const char* name;
  bool rescue;
  bool me;
  size_t lines;
};
const Disk kDisks[] = {{"rescue 98", true, false, 67},
                       {"rescue ME", true, true, 72},
                       {"reinstall 98", false, false, 25},
                       {"reinstall ME", false, true, 26}};

TEST(Floppies, BatchFilesLineForLineAndTheDiskArchiveOnA) {
  for (const Disk& d : kDisks) {
    SCOPED_TRACE(d.name);
    station::Station s(d.me);
    const std::string archive = d.rescue ? "ad.kvt" : "ard.kvt";
    s.ensureDiskArchive(archive);
    s.take("");
    if (d.rescue)
      s.main->cmdMakeDisk_Click();
    else
      s.main->cmdMakeReinstallDisk->userClick();
    size_t count = 0;
    std::string want = d.rescue ? expected(kRescue, d.me, "C:\\PROGRA~1\\BRAKVE~1", "C:\\WINDOWS", &count)
                                : expected(kReinstall, d.me, "", "C:\\WINDOWS", &count);
    EXPECT_EQ(count, d.lines);
    EXPECT_EQ(s.read("A:\\Autoexec.bat"), want);
    EXPECT_THAT(s.take(""),
                ElementsAre("status: Copying necessary files to your disk...",
                            "start: hidden \"C:\\Program Files\\Brakvel 9x\\util\\pux.exe\" C:\\PROGRA~1\\BRAKVE~1\\UTIL\\" +
                            platform::upperAnsi(archive) + " /Y /E /L A:\\"));
    ASSERT_TRUE(s.settle());
    EXPECT_THAT(s.take(""),
                ElementsAre("status: Done .",
                            std::string("message: Brakvel 9x | information | ") +
                                (d.rescue ? "Automated rescue disk successfully created ."
                                          : "Automated clean Windows reinstall disk successfully created .")));
    EXPECT_TRUE(s.main->tmrStatusBar.enabled());
    EXPECT_TRUE(s.exists("A:\\DOSRESET.COM") || s.exists("A:\\README.TXT"));
  }
}

TEST(Floppies, AFloppyThatCannotBeWrittenIsReportedAndNothingIsExtracted) {
  struct {
    const char* name;
    std::string floppyIni;
    bool floppyFolder;
    bool removeDisk;
    bool fillDisk;
  } cases[] = {
      {"no disk image", "", false, true, false},
      {"no disk folder", "", true, true, false},
      {"write-protected image", "WriteProtected=1\r\n", false, false, false},
      {"write-protected folder", "WriteProtected=1\r\n", true, false, false},
      {"full image", "", false, false, true},
      {"full folder", "Capacity=512\r\n", true, false, false},
  };
  for (auto& c : cases) {
    for (bool rescue : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (rescue ? " rescue" : " reinstall"));
      station::Station s(false, c.floppyIni, c.floppyFolder);
      if (c.fillDisk) s.write("A:\\FULL.BIN", std::string(platform::freeSpace(*s.machine, 'A'), 'x'));
      if (c.removeDisk) {
        std::filesystem::remove_all(s.dir / "drive_a");
        std::filesystem::remove(s.dir / "floppy.img");
      }
      s.ensureDiskArchive(rescue ? "ad.kvt" : "ard.kvt");
      s.take("");
      if (rescue)
        s.main->cmdMakeDisk_Click();
      else
        s.main->cmdMakeReinstallDisk_Click();
      auto lines = s.take("");
      ASSERT_EQ(lines.size(), 1u) << testing::PrintToString(lines);
      EXPECT_THAT(lines[0], HasSubstr("message: Brakvel 9x | exclamation | The automated"));
      EXPECT_THAT(lines[0], HasSubstr("was not created"));
      EXPECT_FALSE(s.main->anyWatcherPolling());
    }
  }
}

TEST(Floppies, AMissingDiskArchiveGetsNoSuccessMessage) {
  station::Station s;
  if (s.exists(kProgram + "\\util\\ad.kvt")) s.remove(kProgram + "\\util\\ad.kvt");
  s.take("");
  s.main->cmdMakeDisk_Click();
  ASSERT_TRUE(s.settle());
  auto messages = s.take("message:");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_THAT(messages[0], HasSubstr("exclamation"));
}

}  // namespace
