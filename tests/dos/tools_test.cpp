// The machine's COMMAND.COM and RUNDLL32.EXE as programs, the way the
// launcher and the program start them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "platform/files.h"
#include "platform/launcher.h"
#include "platform/tasks.h"
#include "test_machine.h"
#include "tests/support/process.h"
#include "tests/support/wait.h"

using dostest::TestMachine;

namespace {

const std::string kProgram = "C:\\Program Files\\Brakvel 9x";

using Result = testsupport::Ran;

// A tool of the machine run as the launcher runs it: standard error within
// the output, no input.
Result run(const TestMachine& t, const std::string& exe, const std::vector<std::string>& args) {
  std::vector<std::string> argv{exe};
  argv.insert(argv.end(), args.begin(), args.end());
  return testsupport::run(argv, std::chrono::seconds(120), {.machine = t.root(), .mergeOutput = true});
}

// A stand-in for the cabinet maker: a host program that records how it was
// called and fails with status 3.
void installFakeMakecab(const TestMachine& t) {
  std::string exe = kProgram + "\\util\\Makecab.exe";
  t.write(exe,
          "#!/bin/sh\n"
          "printf '%s\\n' \"$@\" > \"$BRAKVEL9X_MACHINE/makecab-args.txt\"\n"
          "echo makecab ran\n"
          "exit 3\n");
  ::chmod(t.m().toHost(exe).c_str(), 0755);
}

}  // namespace

TEST(CommandCom, RunsKvtBatWithQuotedLongPaths) {
  TestMachine t;
  installFakeMakecab(t);
  t.writeBatch(kProgram + "\\util\\kvt.bat",
               {"@Echo Off", "\"" + kProgram + "\\util\\Makecab.exe\" /f \"" + kProgram +
                                 "\\util\\kvt.ddf\""});
  std::string bat = t.m().shortPath(kProgram + "\\util\\kvt.bat");
  ASSERT_EQ(bat, "C:\\PROGRA~1\\BRAKVE~1\\UTIL\\KVT.BAT");
  Result r = run(t, COMMAND_EXE, {"/C", bat});
  EXPECT_EQ(r.status, 3) << r.out;  // the batch's status is its last program's
  EXPECT_EQ(r.out, "makecab ran\n");
  std::ifstream args(t.root() / "makecab-args.txt");
  std::string a((std::istreambuf_iterator<char>(args)), {});
  EXPECT_EQ(a, "/f\n" + kProgram + "\\util\\kvt.ddf\n");
}

TEST(CommandCom, TheLauncherRunsKvtBatAndLeavesFinishedKvt) {
  TestMachine t;
  installFakeMakecab(t);
  std::filesystem::create_symlink(COMMAND_EXE, t.m().toHost("C:\\WINDOWS\\COMMAND.COM"));
  t.writeBatch(kProgram + "\\util\\kvt.bat",
               {"@Echo Off", "\"" + kProgram + "\\util\\Makecab.exe\" /f \"" + kProgram +
                                 "\\util\\kvt.ddf\""});
  platform::WindowTable windows;
  platform::Launcher launcher(t.m(), windows);
  // the program starts it by its long path, blanks and all, unquoted
  for (std::string bat : {kProgram + "\\util\\kvt.bat", std::string("C:\\PROGRA~1\\BRAKVE~1\\util\\kvt.bat")}) {
    auto job = launcher.start(bat, platform::WindowStyle::Hide);
    ASSERT_TRUE(launcher.wait(job, 20000)) << bat;
    platform::HWND h = windows.find("Finished - kvt", job);
    ASSERT_NE(h, 0) << bat;
    auto w = windows.get(h);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->exitStatus, 3) << bat;
    EXPECT_EQ(w->output, "makecab ran\n") << bat;
    windows.postClose(h);
  }
}

TEST(CommandCom, RunsSingleCommands) {
  TestMachine t;
  Result r = run(t, COMMAND_EXE, {"/c", "ECHO", "hello"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "hello\n");
  r = run(t, COMMAND_EXE, {"/C", "NOSUCHPROGRAM"});
  EXPECT_EQ(r.out, "Bad command or file name\n");
}

TEST(Rundll32, RestartCarriesOutWinInit) {
  TestMachine t;
  t.write(kProgram + "\\Exchange\\System.dat", "exchange System.dat");
  t.write("C:\\WINDOWS\\WinInit.ini",
          "[Rename]\r\nC:\\WINDOWS\\SYSTEM.DAT=" +
              t.m().shortPath(kProgram + "\\Exchange\\System.dat") + "\r\n");
  Result r = run(t, RUNDLL32_EXE, {"SHELL32.DLL,shexitwindowsex", "2"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("SYSTEM.DAT replaced by"), std::string::npos) << r.out;
  EXPECT_EQ(t.read("C:\\WINDOWS\\System.dat"), "exchange System.dat");
  EXPECT_TRUE(t.exists("C:\\WINDOWS\\WinInit.bak"));

  r = run(t, RUNDLL32_EXE, {"shell32.dll,NoSuchEntry", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Error in shell32.dll\nMissing entry: NoSuchEntry\n");
}

TEST(Rundll32, RestartClosesTheMachinesProgramsFirst) {
  TestMachine t;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  if (child == 0) {
    // a program of the machine with a window, e.g. the main window
    platform::TaskRegistration task(t.m(), "Brakvel 9x");
    char c = 1;
    (void)!::write(ready[1], &c, 1);
    for (;;) ::pause();
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  Result r = run(t, RUNDLL32_EXE, {"shell32.dll,SHExitWindowsEx", "2"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.rfind("Closing Brakvel 9x\n", 0), 0u) << r.out;
  int status = 0;
  pid_t ended = 0;
  testsupport::waitUntil([&] { return (ended = ::waitpid(child, &status, WNOHANG)) != 0; }, std::chrono::seconds(5),
                         "the program to close");
  if (ended == 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  EXPECT_EQ(ended, child) << "the program was not closed";
  EXPECT_TRUE(platform::runningTasks(t.m()).empty());
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST(MachineTool, BootFloppyAndRestart) {
  TestMachine t;
  Result r = run(t, MACHINE_EXE, {"boot-floppy"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "No Autoexec.bat on the disk in drive A:\n");
  t.writeBatch("A:\\Autoexec.bat", {"@ECHO OFF", "ECHO booted from A:", "PAUSE"});
  r = run(t, MACHINE_EXE, {"boot-floppy"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "booted from A:\nPress any key to continue . . .\n\nA:\\>\n");

  t.write(kProgram + "\\Exchange\\Win.ini", "exchange Win.ini");
  t.write("C:\\WINDOWS\\WinInit.ini", "[Rename]\r\nC:\\WINDOWS\\WIN.INI=" +
                                          t.m().shortPath(kProgram + "\\Exchange\\Win.ini") + "\r\n");
  r = run(t, MACHINE_EXE, {"restart"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(t.read("C:\\WINDOWS\\Win.ini"), "exchange Win.ini");
}
