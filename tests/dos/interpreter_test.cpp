// The batch interpreter on a real temporary machine: each command the
// program's batch files and floppies use, from Windows and booted from DOS.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/files.h"
#include "tools/command/interpreter.h"
#include "test_machine.h"

using command::Interpreter;
using command::Mode;
using command::Stop;
using dostest::TestMachine;

namespace {

struct Run {
  std::string out;
  command::Outcome outcome;
};

Run runBatch(const TestMachine& t, Mode mode, const std::vector<std::string>& lines) {
  std::string path = mode == Mode::Dos ? "A:\\TEST.BAT" : "C:\\TEST.BAT";
  t.writeBatch(path, lines);
  std::ostringstream out;
  command::Options o;
  o.mode = mode;
  Interpreter in(t.m(), out, o);
  Run r;
  r.outcome = in.runBatch(path);
  r.out = out.str();
  return r;
}

Run dos(const TestMachine& t, std::vector<std::string> lines) {
  lines.insert(lines.begin(), "@ECHO OFF");
  return runBatch(t, Mode::Dos, lines);
}

Run win(const TestMachine& t, std::vector<std::string> lines) {
  lines.insert(lines.begin(), "@ECHO OFF");
  return runBatch(t, Mode::Windows, lines);
}

}  // namespace

TEST(Echo, FormsAndState) {
  TestMachine t;
  struct Case {
    std::vector<std::string> lines;
    std::string out;
  } cases[] = {
      {{"@ECHO OFF", "ECHO hello world"}, "hello world\n"},
      {{"@Echo Off", "ECHO"}, "ECHO is off\n"},
      {{"@echo off", "ECHO.", "ECHO.  Deleting your test Windows directory"},
       "\n  Deleting your test Windows directory\n"},
      {{"@ECHO OFF", "ECHO *", "ECHO IN CASE OF 'FILE NOT FOUND' MESSAGE"},
       "*\nIN CASE OF 'FILE NOT FOUND' MESSAGE\n"},
      {{"@ECHO OFF", "REM nothing to see", "", "   ", "CLS", "ECHO done"}, "done\n"},
      // Echo on: each line is shown after the prompt, @ lines are not.
      {{"ECHO hi", "@ECHO second", "ECHO OFF", "ECHO quiet"},
       "\nA:\\>ECHO hi\nhi\nsecond\n\nA:\\>ECHO OFF\nquiet\n"},
  };
  for (auto& c : cases) {
    auto r = runBatch(t, Mode::Dos, c.lines);
    EXPECT_EQ(r.out, c.out) << c.lines[1];
    EXPECT_EQ(r.outcome.stop, Stop::Finished);
  }
}

TEST(Goto, LabelsIgnoreCaseAndCompareEightCharacters) {
  TestMachine t;
  auto r = dos(t, {"GOTO copysysdat", "ECHO skipped", ":COPYCLASSES", "ECHO wrong",
                   ":CopySysDat", "ECHO right", "goto :end", "ECHO skipped too", ":END"});
  EXPECT_EQ(r.out, "right\n");
  // DOS keeps only 8 characters of a label.
  r = dos(t, {"GOTO BRLJOTINAXYZ", "ECHO skipped", ":BRLJOTINA", "ECHO eight"});
  EXPECT_EQ(r.out, "eight\n");
}

TEST(Goto, MissingLabelEndsTheBatch) {
  TestMachine t;
  auto r = dos(t, {"ECHO before", "GOTO NOWHERE", "ECHO after"});
  EXPECT_EQ(r.out, "before\nLabel not found\n");
}

TEST(IfExist, FilesFoldersAndNames) {
  TestMachine t;
  t.write("C:\\Program Files\\Brakvel 9x\\Rescue\\System.dat", "x");
  struct Case {
    Mode mode;
    std::string test;
    bool exists;
  } cases[] = {
      {Mode::Dos, "C:\\PROGRA~1\\BRAKVE~1\\RESCUE\\SYSTEM.DAT", true},
      {Mode::Dos, "c:\\progra~1\\brakve~1\\rescue\\system.dat", true},
      {Mode::Dos, "C:\\PROGRA~1\\BRAKVE~1\\RESCUE\\WIN.INI", false},
      // DOS has no long names
      {Mode::Dos, "\"C:\\Program Files\\Brakvel 9x\\Rescue\\System.dat\"", false},
      {Mode::Windows, "\"C:\\Program Files\\Brakvel 9x\\Rescue\\System.dat\"", true},
      {Mode::Windows, "C:\\PROGRA~1\\BRAKVE~1\\RESCUE\\SYSTEM.DAT", true},
      {Mode::Dos, "C:\\PROGRA~1\\BRAKVE~1\\RESCUE\\*.DAT", true},
      {Mode::Dos, "C:\\PROGRA~1\\BRAKVE~1\\RESCUE\\*.INI", false},
      // a folder is not a file, but DIR\NUL is the DOS test for a folder
      {Mode::Dos, "C:\\WINDOWS", false},
      {Mode::Dos, "C:\\WINDOWS\\NUL", true},
      {Mode::Dos, "C:\\NOFOLDER\\NUL", false},
  };
  for (auto& c : cases) {
    std::vector<std::string> lines = {"IF EXIST " + c.test + " ECHO yes",
                                      "IF NOT EXIST " + c.test + " ECHO no"};
    auto r = c.mode == Mode::Dos ? dos(t, lines) : win(t, lines);
    EXPECT_EQ(r.out, c.exists ? "yes\n" : "no\n") << c.test;
  }
  // IF EXIST ... GOTO, as the rescue batch uses it
  auto r = dos(t, {"IF EXIST C:\\PROGRA~1\\BRAKVE~1\\RESCUE\\SYSTEM.DAT GOTO COPY", "ECHO missing",
                   "GOTO X", ":COPY", "ECHO present", ":X"});
  EXPECT_EQ(r.out, "present\n");
}

TEST(Copy, IntoFolderAndOntoFile) {
  TestMachine t;
  t.write("C:\\Program Files\\Brakvel 9x\\Rescue\\System.dat", "rescued registry");
  platform::setAttributes(t.m(), "C:\\Program Files\\Brakvel 9x\\Rescue\\System.dat",
                          platform::kHidden | platform::kSystem);
  // into a folder: replaces the live file, which keeps its long name
  auto r = dos(t, {"COPY C:\\PROGRA~1\\BRAKVE~1\\RESCUE\\SYSTEM.DAT C:\\WINDOWS"});
  EXPECT_EQ(r.out, "        1 file(s) copied\n");
  EXPECT_EQ(t.read("C:\\WINDOWS\\System.dat"), "rescued registry");
  EXPECT_TRUE(std::filesystem::exists(t.root() / "drive_c/WINDOWS/System.dat"));
  EXPECT_FALSE(std::filesystem::exists(t.root() / "drive_c/WINDOWS/SYSTEM.DAT"));
  EXPECT_EQ(t.attrs("C:\\WINDOWS\\System.dat"), platform::kArchive);  // a DOS copy: archive only

  // onto a new file name, and from Windows with long names
  r = win(t, {"COPY \"C:\\Program Files\\Brakvel 9x\\Rescue\\System.dat\" \"C:\\My Documents\\Copy of system.dat\""});
  EXPECT_EQ(r.out, "        1 file(s) copied\n");
  EXPECT_EQ(t.read("C:\\My Documents\\Copy of system.dat"), "rescued registry");
  // several files into a folder
  t.write("C:\\My Documents\\a.txt", "a");
  t.write("C:\\My Documents\\b.txt", "b");
  r = dos(t, {"COPY C:\\MYDOCU~1\\*.TXT A:\\"});
  EXPECT_NE(r.out.find("        2 file(s) copied\n"), std::string::npos) << r.out;
  EXPECT_EQ(t.read("A:\\B.TXT"), "b");
}

TEST(Copy, DosMessagesForWhatCannotBeCopied) {
  TestMachine t;
  t.write("C:\\My Documents\\Letter to Bob.txt", "x");
  struct Case {
    std::string line;
    std::string out;
  } cases[] = {
      {"COPY C:\\PROGRA~1\\BRAKVE~1\\RESCUE\\WIN.INI C:\\WINDOWS",
       "File not found - C:\\PROGRA~1\\BRAKVE~1\\RESCUE\\WIN.INI\n        0 file(s) copied\n"},
      // the long name does not exist for DOS
      {"COPY \"C:\\My Documents\\Letter to Bob.txt\" A:\\",
       "File not found - C:\\My Documents\\Letter to Bob.txt\n        0 file(s) copied\n"},
      {"COPY C:\\WINDOWS\\WIN.INI C:\\WINDOWS",
       "File cannot be copied onto itself\n        0 file(s) copied\n"},
  };
  for (auto& c : cases) EXPECT_EQ(dos(t, {c.line}).out, c.out) << c.line;
  // one file under its long and its short name
  EXPECT_EQ(win(t, {"COPY \"C:\\My Documents\\Letter to Bob.txt\" C:\\MYDOCU~1\\LETTER~1.TXT"}).out,
            "File cannot be copied onto itself\n        0 file(s) copied\n");
  // a read-only target refuses the copy and keeps its content
  platform::setAttributes(t.m(), "C:\\WINDOWS\\User.dat", platform::kReadOnly);
  t.write("A:\\USER.DAT", "new");
  auto r = dos(t, {"COPY A:\\USER.DAT C:\\WINDOWS"});
  EXPECT_NE(r.out.find("Access denied"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("        0 file(s) copied"), std::string::npos);
  EXPECT_EQ(t.read("C:\\WINDOWS\\User.dat"), "live User.dat");
}

TEST(Attrib, SetsClearsAndLists) {
  TestMachine t(false, testsupport::DriveForm::Image);
  auto r = dos(t, {"ATTRIB C:\\WINDOWS\\SYSTEM.DAT +R +A +H +S"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(t.attrs("C:\\WINDOWS\\System.dat"),
            platform::kReadOnly | platform::kArchive | platform::kHidden | platform::kSystem);
  r = dos(t, {"ATTRIB C:\\WINDOWS\\SYSTEM.DAT"});
  EXPECT_EQ(r.out, "  A  SHR     C:\\WINDOWS\\SYSTEM.DAT\n");
  // DOS leaves a hidden or system file alone when H and S are not named
  r = dos(t, {"ATTRIB C:\\WINDOWS\\SYSTEM.DAT -R"});
  EXPECT_EQ(r.out, "Not resetting system file - C:\\WINDOWS\\SYSTEM.DAT\n");
  EXPECT_TRUE(t.attrs("C:\\WINDOWS\\System.dat") & platform::kReadOnly);
  r = dos(t, {"ATTRIB C:\\WINDOWS\\SYSTEM.DAT -R -A -H -S"});
  EXPECT_EQ(t.attrs("C:\\WINDOWS\\System.dat"), platform::kNormal);
  r = dos(t, {"attrib +r c:\\windows\\user.dat", "ATTRIB C:\\WINDOWS\\USER.DAT"});
  EXPECT_EQ(r.out, "  A    R     C:\\WINDOWS\\USER.DAT\n");
  r = dos(t, {"ATTRIB C:\\WINDOWS\\NONE.DAT -R", "ATTRIB +X C:\\WINDOWS\\USER.DAT"});
  EXPECT_EQ(r.out, "File not found - C:\\WINDOWS\\NONE.DAT\nInvalid switch - +X\n");
}

TEST(Pause, ContinuesAtOnceWithoutATerminal) {
  TestMachine t;
  auto r = dos(t, {"ECHO PLEASE ,REMOVE DISK AFTER SYSTEM REBOOT...", "PAUSE", "ECHO after"});
  EXPECT_EQ(r.out,
            "PLEASE ,REMOVE DISK AFTER SYSTEM REBOOT...\nPress any key to continue . . .\nafter\n");
}

TEST(Environment, PromptPathSetAndVariables) {
  TestMachine t;
  auto r = runBatch(t, Mode::Dos,
                    {"PROMPT=$P$G", "PATH=A:\\", "SET DIRCMD=/OGNES", "@ECHO OFF", "PATH",
                     "ECHO %DIRCMD% 100%%", "SET DIRCMD=", "ECHO [%DIRCMD%]", "PROMPT $N$G",
                     "ECHO ON", "REM shown", "@ECHO OFF"});
  EXPECT_EQ(r.out,
            "\nA:\\>PROMPT=$P$G\n\nA:\\>PATH=A:\\\n\nA:\\>SET DIRCMD=/OGNES\n"
            "PATH=A:\\\n/OGNES 100%\n[]\n\nA>REM shown\n");
}

TEST(Programs, UnknownCommandsAndLongNamesInDos) {
  TestMachine t;
  t.write("C:\\Program Files\\Brakvel 9x\\util\\Makecab.exe", "MZ");
  auto r = dos(t, {"FROBNICATE /X", "\"C:\\Program Files\\Brakvel 9x\\util\\Makecab.exe\" /f x",
                   "ECHO still running"});
  EXPECT_EQ(r.out, "Bad command or file name\nBad command or file name\nstill running\n");
  // a Windows program found by its 8.3 name still cannot run under DOS
  r = dos(t, {"C:\\PROGRA~1\\BRAKVE~1\\UTIL\\MAKECAB"});
  EXPECT_EQ(r.out, "This program cannot be run in DOS mode.\n");
}

TEST(Programs, DosresetRestartsWhenOnTheDisk) {
  TestMachine t;
  auto r = dos(t, {"DOSRESET.COM", "ECHO no restart"});
  EXPECT_EQ(r.out, "Bad command or file name\nno restart\n");
  EXPECT_EQ(r.outcome.stop, Stop::Finished);
  t.write("A:\\DOSRESET.COM", "\xb4\x0d");
  r = dos(t, {"DOSRESET.COM", "ECHO not reached"});
  EXPECT_EQ(r.outcome.stop, Stop::Restart);
  EXPECT_EQ(r.out.find("not reached"), std::string::npos);
  r = dos(t, {"dosreset"});
  EXPECT_EQ(r.outcome.stop, Stop::Restart);
}

TEST(Programs, LoadedDriversAndSetupFromTheCd) {
  TestMachine t;
  auto r = dos(t, {"X:\\SETUP"});
  EXPECT_EQ(r.out, "Invalid drive specification\n");
  EXPECT_EQ(r.outcome.stop, Stop::Finished);

  r = dos(t, {"LH MSCDEX.EXE /D:OTHER /L:X", "X:\\SETUP"});
  EXPECT_NE(r.out.find("Device driver not found: 'OTHER'."), std::string::npos) << r.out;
  EXPECT_EQ(r.outcome.stop, Stop::Finished);

  // a letter the machine has is not the CD's; "X:" changes only to a drive there is
  r = dos(t, {"MSCDEX /D:MSCD001 /L:A", "Q:", "C:", "CD"});
  EXPECT_EQ(r.out,
            "MSCDEX Version 2.25\n"
            "Copyright (C) Microsoft Corp. 1986-1995. All rights reserved.\n"
            "Drive A: is already in use\n"
            "Invalid drive specification\n"
            "C:\\\n");

  r = dos(t, {"LH MSCDEX.EXE /D:MSCD001 /L:X", "LH DOSKEY /INS", "LH SMARTDRV", "x:\\setup",
              "ECHO not reached"});
  EXPECT_EQ(r.out,
            "MSCDEX Version 2.25\n"
            "Copyright (C) Microsoft Corp. 1986-1995. All rights reserved.\n"
            "Drive X: = Driver MSCD001 unit 0\n"
            "DOSKey installed.\n"
            "Microsoft SMARTDrive Disk Cache version 5.0 installed (no effect on this machine).\n"
            "Windows Setup starts now from X:\\SETUP (this machine stops here).\n");
  EXPECT_EQ(r.outcome.stop, Stop::Setup);
}

TEST(Deltree, DeletesTreesWithProtectedFiles) {
  TestMachine t;
  platform::makeFolder(t.m(), "C:\\WINDOWS\\SYSTEM\\deep");
  t.write("C:\\WINDOWS\\SYSTEM\\deep\\file.dll", "x");
  platform::setAttributes(t.m(), "C:\\WINDOWS\\System.dat",
                          platform::kReadOnly | platform::kHidden | platform::kSystem);
  t.write("C:\\junk.txt", "j");
  platform::setAttributes(t.m(), "C:\\junk.txt", platform::kReadOnly);
  auto r = dos(t, {"DELTREE /Y C:\\WINDOWS", "DELTREE /Y C:\\JUNK.TXT", "DELTREE /Y C:\\NOTHERE"});
  EXPECT_EQ(r.out, "Deleting C:\\WINDOWS...\nDeleting C:\\JUNK.TXT...\n");
  EXPECT_FALSE(t.exists("C:\\WINDOWS"));
  EXPECT_FALSE(t.exists("C:\\junk.txt"));
  EXPECT_TRUE(t.exists("C:\\Program Files\\Brakvel 9x\\util"));
}

TEST(Deltree, AsksWithoutY) {
  TestMachine t;
  t.write("C:\\My Documents\\a.txt", "a");
  std::istringstream answers("n\n");
  std::ostringstream out;
  command::Options o;
  o.mode = Mode::Dos;
  o.input = &answers;
  Interpreter in(t.m(), out, o);
  in.runLine("DELTREE C:\\MYDOCU~1");
  EXPECT_EQ(out.str(),
            "Delete directory \"C:\\MYDOCU~1\" and all its subdirectories? [yn] n\n");
  EXPECT_TRUE(t.exists("C:\\My Documents\\a.txt"));
}

TEST(Batch, ChainsToAnotherBatchWithoutReturning) {
  TestMachine t;
  t.writeBatch("A:\\SECOND.BAT", {"@ECHO OFF", "ECHO second %1"});
  auto r = dos(t, {"ECHO first", "SECOND one", "ECHO never"});
  EXPECT_EQ(r.out, "first\nsecond one\n");
  r = dos(t, {"CALL SECOND two", "ECHO back"});
  EXPECT_EQ(r.out, "second two\nback\n");
}
