#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "tests/support/test_machine.h"
#include "tests/support/wait.h"
#include "tests/support/environment.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/launcher.h"
#include "platform/timer.h"

using namespace platform;
using TempMachine = testsupport::TestMachine;

namespace {

// A host program stood in by a shell script, installed into the machine.
void install(const Machine& m, const std::string& winPath, const std::string& body, bool executable = true) {
  fs::path p = m.toHost(winPath);
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << "#!/bin/sh\n" << body << "\n";
  ::chmod(p.c_str(), executable ? 0755 : 0644);
}

const char* kEcho = "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done";

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    install(m, "C:\\Program Files\\Brakvel 9x\\util\\pux.exe", kEcho);
    install(m, "C:\\Program Files\\Brakvel 9x\\Brakvel 9x.exe", kEcho);
    install(m, "C:\\WINDOWS\\REGEDIT.EXE", kEcho);
    install(m, "C:\\WINDOWS\\COMMAND\\START.EXE", kEcho);
    install(m, "C:\\UTIL\\X.COM", kEcho);
    install(m, "C:\\UTIL\\X.BAT", "");
    install(m, "C:\\UTIL\\Y.BAT", "");
  }
  TempMachine tm;
  Machine m = tm.open();
  WindowTable windows;
};

FinishedWindow finish(Launcher& l, WindowTable& windows, JobId job) {
  EXPECT_TRUE(l.wait(job, 20000));
  for (auto& w : windows.all()) {
    if (w.job == job) return w;
  }
  ADD_FAILURE() << "no window for the job";
  return {};
}

}  // namespace

TEST(CommandLines, SplitAsWindowsProgramsDo) {
  using V = std::vector<std::string>;
  struct Case {
    const char* tail;
    V args;
  } cases[] = {
      {"", V{}},
      {"   ", V{}},
      {"/Y /E /L C:\\PROGRA~1\\x", V{"/Y", "/E", "/L", "C:\\PROGRA~1\\x"}},
      {"  a\t b  ", V{"a", "b"}},
      {"\"C:\\Program Files\\x\" /s", V{"C:\\Program Files\\x", "/s"}},
      {"a\"b c\"d", V{"ab cd"}},
      {"\"\"", V{""}},
      {"a\\\\b", V{"a\\\\b"}},
      {"a\\\"b", V{"a\"b"}},
      {"a\\\\\"b c\"", V{"a\\b c"}},
      {"\"a \"\" b\"", V{"a \" b"}},
      {"C:\\dir\\ end", V{"C:\\dir\\", "end"}},
  };
  for (const auto& c : cases) EXPECT_EQ(splitCommandLine(c.tail), c.args) << c.tail;
}

TEST_F(LauncherTest, ResolvesAsWindowsDoes) {
  Launcher l(m, windows);
  struct Case {
    const char* line;
    const char* winPath;
    const char* baseName;
    const char* tail;
    bool batch;
  } cases[] = {
      {"C:\\PROGRA~1\\BRAKVE~1\\util\\pux.exe /Y /L C:\\X", "C:\\Program Files\\Brakvel 9x\\util\\pux.exe", "pux", "/Y /L C:\\X", false},
      {"c:\\progra~1\\brakve~1\\UTIL\\PUX /E", "C:\\Program Files\\Brakvel 9x\\util\\pux.exe", "PUX", "/E", false},
      {"\"C:\\Program Files\\Brakvel 9x\\Brakvel 9x.exe\" a b", "C:\\Program Files\\Brakvel 9x\\Brakvel 9x.exe", "Brakvel 9x", "a b", false},
      {"C:\\Program Files\\Brakvel 9x\\Brakvel 9x.exe  arg", "C:\\Program Files\\Brakvel 9x\\Brakvel 9x.exe", "Brakvel 9x", "arg", false},
      {"C:\\Program Files\\Brakvel 9x\\Brakvel 9x", "C:\\Program Files\\Brakvel 9x\\Brakvel 9x.exe", "Brakvel 9x", "", false},
      {"regedit /s C:\\x.reg", "C:\\WINDOWS\\REGEDIT.EXE", "regedit", "/s C:\\x.reg", false},
      {"REGEDIT.EXE /s", "C:\\WINDOWS\\REGEDIT.EXE", "REGEDIT", "/s", false},
      {"start http://example.invalid/", "C:\\WINDOWS\\COMMAND\\START.EXE", "start", "http://example.invalid/", false},
      {"C:\\UTIL\\X", "C:\\UTIL\\X.COM", "X", "", false},  // .com before .bat
      {"  C:\\UTIL\\y arg", "C:\\UTIL\\Y.BAT", "y", "arg", true},
      {"\\UTIL\\X.BAT", "C:\\UTIL\\X.BAT", "X", "", true},
  };
  for (const auto& c : cases) {
    Launcher::Resolved r = l.resolve(c.line);
    EXPECT_EQ(r.winPath, c.winPath) << c.line;
    EXPECT_EQ(r.baseName, c.baseName) << c.line;
    EXPECT_EQ(r.argTail, c.tail) << c.line;
    EXPECT_EQ(r.args, splitCommandLine(c.tail)) << c.line;
    EXPECT_EQ(r.batch, c.batch) << c.line;
    EXPECT_EQ(r.host, m.toHost(c.winPath)) << c.line;
  }
  // The shortest prefix that names a program wins, as on Windows.
  install(m, "C:\\Program.exe", kEcho);
  auto r = l.resolve("C:\\Program Files\\Brakvel 9x\\Brakvel 9x.exe arg");
  EXPECT_EQ(r.winPath, "C:\\Program.exe");
  EXPECT_EQ(r.argTail, "Files\\Brakvel 9x\\Brakvel 9x.exe arg");
}

TEST_F(LauncherTest, MissingProgramsAreFileNotFound) {
  Launcher l(m, windows);
  struct Case {
    const char* line;
    const char* named;
  } cases[] = {
      {"C:\\nothing\\prog.exe /a", "C:\\nothing\\prog.exe"},
      {"C:\\Program Files\\nothing.exe x", "C:\\Program Files\\nothing.exe"},
      {"\"C:\\Program Files\\Brakvel 9x\\util\\gone.exe\" /Y", "C:\\Program Files\\Brakvel 9x\\util\\gone.exe"},
      {"nosuchtool", "nosuchtool"},
      {"Q:\\x.exe", "Q:\\x.exe"},
  };
  for (const auto& c : cases) {
    try {
      l.start(c.line, WindowStyle::Hide);
      ADD_FAILURE() << c.line;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kFileNotFound) << c.line;
      EXPECT_EQ(e.description(), "File not found");
      EXPECT_EQ(e.detail(), c.named);
    }
  }
  EXPECT_THROW(l.start("", WindowStyle::Hide), Error);
  EXPECT_TRUE(windows.all().empty());
}

TEST_F(LauncherTest, FilesThatAreNoHostProgramCannotStart) {
  install(m, "C:\\UTIL\\PLAIN.EXE", "", /*executable=*/false);
  writeFile(m, "C:\\UTIL\\DOS.COM", std::string("\xB4\x4C\xCD\x21", 4));
  ::chmod(m.toHost("C:\\UTIL\\DOS.COM").c_str(), 0755);
  Launcher l(m, windows);
  for (const char* line : {"C:\\UTIL\\PLAIN.EXE", "C:\\UTIL\\DOS.COM /x"}) {
    try {
      l.start(line, WindowStyle::Hide);
      ADD_FAILURE() << line;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kPathFileAccess) << line;
      EXPECT_EQ(e.description(), "Path/File access error");
    }
  }
  // A batch file needs the machine's command interpreter.
  try {
    l.start("C:\\UTIL\\X.BAT", WindowStyle::Hide);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kFileNotFound);
    EXPECT_EQ(e.detail(), "C:\\WINDOWS\\COMMAND.COM");
  }
}

TEST_F(LauncherTest, RunsChildrenAndRecordsTheirFinishedWindows) {
  install(m, "C:\\UTIL\\ENV.EXE",
          "echo \"machine=$BRAKVEL9X_MACHINE\"\necho \"cmdline=$BRAKVEL9X_CMDLINE\"\n"
          "echo \"window=$BRAKVEL9X_WINDOW\"\necho \"program=$BRAKVEL9X_PROGRAM\"\n"
          "echo \"cwd=$(pwd)\"\necho oops >&2\nexit 3");
  Launcher l(m, windows);
  JobId job = l.start("C:\\UTIL\\env.exe  \"two words\" x\\y", WindowStyle::MinimizedFocus);
  FinishedWindow w = finish(l, windows, job);
  EXPECT_EQ(w.title, "Finished - env");
  EXPECT_EQ(w.exitStatus, 3);
  EXPECT_FALSE(w.hidden);
  EXPECT_EQ(l.exitStatus(job), 3);
  EXPECT_FALSE(l.running(job));
  std::string expected = "machine=" + m.root().string() + "\ncmdline=\"two words\" x\\y\nwindow=minimized-focus\n" +
                         "program=C:\\UTIL\\ENV.EXE\ncwd=" + m.toHost("C:\\WINDOWS").string() + "\noops\n";
  EXPECT_EQ(w.output, expected);

  JobId args = l.start("C:\\PROGRA~1\\BRAKVE~1\\util\\pux.exe /Y \"C:\\My Files\\a b.kvt\" G\xFCnter", WindowStyle::Hide);
  FinishedWindow a = finish(l, windows, args);
  EXPECT_EQ(a.title, "Finished - pux");
  EXPECT_TRUE(a.hidden);
  EXPECT_EQ(a.exitStatus, 0);
  EXPECT_EQ(a.output, "[/Y]\n[C:\\My Files\\a b.kvt]\n[G\xC3\xBCnter]\n");
  EXPECT_EQ(windows.find("Finished - pux"), windows.find("Finished - pux", args));
  EXPECT_EQ(windows.find("Finished - pux", job), 0);
}

TEST_F(LauncherTest, ExitStatusAndOutputTail) {
  install(m, "C:\\UTIL\\KILLED.EXE", "kill -TERM $$");
  install(m, "C:\\UTIL\\CHATTY.EXE", "i=0; while [ $i -lt 2000 ]; do echo \"line $i ........\"; i=$((i+1)); done");
  install(m, "C:\\UTIL\\SLOW.EXE", "sleep 0.3; echo done");
  Launcher l(m, windows);
  JobId killed = l.start("C:\\UTIL\\KILLED", WindowStyle::Hide);
  JobId chatty = l.start("C:\\UTIL\\CHATTY", WindowStyle::Hide);
  JobId slow = l.start("C:\\UTIL\\SLOW", WindowStyle::Hide);
  EXPECT_TRUE(l.running(slow));
  EXPECT_EQ(l.exitStatus(slow), std::nullopt);
  EXPECT_FALSE(l.wait(slow, 1));
  EXPECT_EQ(finish(l, windows, killed).exitStatus, 128 + 15);
  std::string out = finish(l, windows, chatty).output;
  EXPECT_EQ(out.size(), 16384u);
  EXPECT_TRUE(out.ends_with("line 1999 ........\n"));
  EXPECT_EQ(finish(l, windows, slow).output, "done\n");
  EXPECT_FALSE(l.running(JobId{999}));
  EXPECT_EQ(l.exitStatus(JobId{999}), std::nullopt);
}

TEST_F(LauncherTest, BatchFilesRunThroughTheCommandInterpreter) {
  install(m, "C:\\WINDOWS\\COMMAND.COM", "echo \"$# $1 $2 $3\"; echo \"$BRAKVEL9X_CMDLINE\"; exit 4");
  writeFile(m, "C:\\Program Files\\Brakvel 9x\\util\\kvt.bat", "@echo off\r\n");
  Launcher l(m, windows);
  JobId job = l.start("C:\\PROGRA~1\\BRAKVE~1\\util\\kvt.bat", WindowStyle::Hide);
  FinishedWindow w = finish(l, windows, job);
  EXPECT_EQ(w.title, "Finished - kvt");
  EXPECT_EQ(w.exitStatus, 4);
  // The command line quotes the path with blanks, so that the interpreter
  // does not take a C:\Program.exe for it.
  EXPECT_EQ(w.output,
            "2 /C C:\\Program Files\\Brakvel 9x\\util\\kvt.bat \n/C \"C:\\Program Files\\Brakvel 9x\\util\\kvt.bat\"\n");
  // COMSPEC names another interpreter.
  install(m, "C:\\DOS\\SHELL.EXE", "echo other");
  testsupport::ScopedEnv comspec("BRAKVEL9X_ENV_COMSPEC", "C:\\DOS\\SHELL.EXE");
  Launcher l2(m, windows);
  EXPECT_EQ(finish(l2, windows, l2.start("C:\\UTIL\\Y", WindowStyle::Hide)).output, "other\n");
}

TEST_F(LauncherTest, VirtualClockWatcherSeesARealTool) {
  install(m, "C:\\UTIL\\TOOL.EXE", "sleep 0.2");
  Launcher l(m, windows);
  VirtualClock clock;
  Timer watcher("tmrExtract", 2000);
  watcher.attach(clock);
  JobId job = l.start("C:\\UTIL\\TOOL.EXE", WindowStyle::Hide);
  bool done = false;
  watcher.onTick = [&] {
    if (HWND h = windows.find("Finished - TOOL", job)) {
      windows.postClose(h);
      watcher.stop();
      done = true;
    }
  };
  watcher.start();
  EXPECT_TRUE(clock.advanceUntil([&] { return done; }, 600000));
  EXPECT_EQ(clock.nowMs() % 2000, 0);
}

TEST_F(LauncherTest, ToolsOutliveTheLauncher) {
  // Writes after the program has gone, then leaves a mark.
  install(m, "C:\\UTIL\\LATE.EXE", "sleep 0.3\necho still here\necho written > \"$1\"");
  fs::path mark = tm.dir() / "mark";
  {
    Launcher l(m, windows);
    l.start("C:\\UTIL\\LATE.EXE " + mark.string(), WindowStyle::Hide);
  }
  EXPECT_TRUE(testsupport::waitUntil([&] { return fs::exists(mark); }, std::chrono::seconds(5), "the tool's mark"));
}
