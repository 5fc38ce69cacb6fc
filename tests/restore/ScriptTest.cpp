// The restart dialog through brakvel9x-script, as a person's script drives
// it: the option is chosen and "Finish" pressed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "Station.h"
#include "platform/files.h"
#include "tests/support/process.h"

using station::kProgram;
using station::kWin;
using testing::Contains;
using testing::HasSubstr;

namespace {

struct Script {
  int status;
  std::string transcript;
};

Script runScript(const station::Station& s, const std::string& text) {
  std::filesystem::path file = s.dir / "test.script";
  std::ofstream(file, std::ios::binary) << text;
  testsupport::Ran r = testsupport::run({BRAKVEL9X_SCRIPT, file.string()}, std::chrono::seconds(300),
                                        {.machine = s.dir, .mergeOutput = true});
  return {r.status, r.out};
}

TEST(RestartScript, UndoThenLaterOrCancel) {
  station::Station s;
  for (const std::string& n : s.set()) s.write(kProgram + "\\undo\\" + n, "saved " + n);
  const std::string theirs = "[Rename]\r\nNUL=C:\\WINDOWS\\TEMP\\SETUP.TMP\r\n";
  s.write(kWin + "\\WinInit.ini", theirs);

  Script later = runScript(s,
                           "click tlbCmdUndo\n"
                           "answer No, I'll reboot my computer later\n"
                           "click SmartNetButton2\n"
                           "close\n");
  EXPECT_EQ(later.status, 0) << later.transcript;
  EXPECT_THAT(later.transcript, HasSubstr("dialog: frmRestart\n"));
  EXPECT_EQ(s.read(kWin + "\\WinInit.ini"),
            theirs + "C:\\WINDOWS\\SYSTEM.DAT=C:\\PROGRA~1\\BRAKVE~1\\UNDO\\SYSTEM.DAT\r\n"
                     "C:\\WINDOWS\\USER.DAT=C:\\PROGRA~1\\BRAKVE~1\\UNDO\\USER.DAT\r\n"
                     "C:\\WINDOWS\\SYSTEM.INI=C:\\PROGRA~1\\BRAKVE~1\\UNDO\\SYSTEM.INI\r\n"
                     "C:\\WINDOWS\\WIN.INI=C:\\PROGRA~1\\BRAKVE~1\\UNDO\\WIN.INI\r\n");

  // A later run cancels: every line of ours goes, the other program's stay.
  Script cancel = runScript(s,
                            "click tlbCmdUndo\n"
                            "answer No, cancel restore command\n"
                            "click SmartNetButton2\n"
                            "close\n");
  EXPECT_EQ(cancel.status, 0) << cancel.transcript;
  EXPECT_EQ(s.read(kWin + "\\WinInit.ini"), theirs);
}

TEST(RestartScript, UndoWithoutCopies) {
  station::Station s;
  Script r = runScript(s,
                       "click tlbCmdUndo\n"
                       "click SmartNetButton2\n"
                       "close\n");
  EXPECT_EQ(r.status, 0) << r.transcript;
  EXPECT_THAT(r.transcript, HasSubstr("message: Brakvel 9x | exclamation | The file C:\\Program Files\\Brakvel 9x\\undo\\System.dat is missing . Nothing was staged for undo ."));
  EXPECT_THAT(r.transcript, testing::Not(HasSubstr("dialog: frmRestart")));
  EXPECT_FALSE(s.exists(kWin + "\\WinInit.ini"));
}

}  // namespace
