// brakvel9x-script run as a process on a temporary machine: the transcript
// it writes and its exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "TestMachine.h"
#include "platform/registry/registry.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

struct ScriptRun {
  std::vector<std::string> lines;
  int status = -1;
};

class ScriptDriver : public testing::Test {
 protected:
  void makeMachine(const testsupport::MachineOptions& o = apptest::programMachine()) { tm.emplace(o); }
  void setSetting(const std::string& key, const std::string& value) {
    platform::Machine m = tm->open();
    platform::SaveSetting(m, "Brakvel 9x", "Options", key, value);
  }
  std::string setting(const std::string& key) {
    platform::Machine m = tm->open();
    return platform::GetSetting(m, "Brakvel 9x", "Options", key, "<absent>");
  }
  ScriptRun run(const std::string& script) {
    fs::path file = dir / "script.txt";
    std::ofstream(file, std::ios::binary) << script;
    testsupport::Ran ran = testsupport::run({BRAKVEL9X_SCRIPT, file.string()}, std::chrono::seconds(120),
                                            {.machine = tm->dir(), .mergeOutput = true});
    ScriptRun r;
    r.status = ran.status;
    std::istringstream in(ran.out);
    for (std::string line; std::getline(in, line);) r.lines.push_back(line);
    return r;
  }
  testsupport::TempDir dir{"brakvel-script-test"};
  std::optional<testsupport::TestMachine> tm;
};

TEST_F(ScriptDriver, TipsIntroAndMainWindowAsAPersonWouldUseThem) {
  makeMachine();
  ScriptRun r = run(
      "# the tips come first, over the intro\n"
      "click TipOfDay.SmartNetButton1\n"
      "print LblTip\n"
      "print Label2\n"
      "click SmartNetButton2\n"
      "\n"
      "click optContinue(5)\r\n"
      "click chkHelp\n"
      "click frmIntro.SmartNetButton1\n"
      "menu mnuScreenBackup\n"
      "type txtComments hello\\r\\nworld\n"
      "print txtComments\n"
      "wait\n"
      "close\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.lines, ElementsAre("dialog: frmIntro", "dialog: TipOfDay",
                                   "print: LblTip: ...You can create and use customizable system information "
                                   "file with every backup archive.",
                                   "print: Label2: 2", "screen: fraBackup", "dialog: frmGlavni",
                                   "screen: fraReinstallDisk", "help: 6", "help: 6", "screen: fraBackup",
                                   "screen: fraBackup", "print: txtComments: hello\\r\\nworld", "exit"));
  EXPECT_EQ(setting("Show Tips at Startup"), "1");
}

TEST_F(ScriptDriver, AnswersCloseModalDialogsAndMessageBoxes) {
  makeMachine();
  setSetting("Show Intro", "0");
  setSetting("Show Tips at Startup", "0");
  ScriptRun r = run(
      "answer OK\n"
      "menu mnuAbout\n"
      "menu mnuAbout\n"
      "print lblVersion\n"
      "click cmdSysInfo\n"
      "click frmAbout.cmdOK\n"
      "menu mnuScreenReinstallDisk\n"
      "print Label24\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.lines,
              ElementsAre("screen: fraBackup", "dialog: frmGlavni", "dialog: frmAbout", "dialog: frmAbout",
                          "print: lblVersion: Version 2.0.0",
                          "message: Brakvel 9x | none | System Information Is Unavailable At This Time",
                          "screen: fraReinstallDisk", "help: 6", "screen: fraReinstallDisk",
                          "print: Label24: Before any use of this disk you must seriously consider to backup "
                          ":\\r\\n- your mail folders (see help for more instructions)\\r\\n- your Favorites "
                          "folder\\r\\n- your system drivers (see help for more instructions)\\r\\n\\r\\nYou "
                          "must also have working CD with Windows version you want to \\r\\ninstall after "
                          "deletition of your current Windows directory ."));
}

TEST_F(ScriptDriver, FailuresNameTheLineAndWhatIsWrong) {
  makeMachine();
  setSetting("Show Intro", "0");
  setSetting("Show Tips at Startup", "0");
  struct Case {
    const char* script;
    const char* error;
  } cases[] = {
      {"click cmdMakeBackup\n", "error: line 1: cmdMakeBackup is disabled"},
      {"\n# nothing\nclick cmdNoSuch\n", "error: line 3: cmdNoSuch: no open window has a control of that name"},
      {"menu mnuNoSuch\n", "error: line 1: menu mnuNoSuch: no menu item has that key"},
      {"click frmIntro.SmartNetButton1\n", "error: line 1: frmIntro.SmartNetButton1: frmIntro is not shown"},
      {"type cmdNewBackup x\n", "error: line 1: cmdNewBackup is not a text box"},
      {"select lvwRestore a.kvt\n", "error: line 1: lvwRestore has no row \"a.kvt\" (it is empty)"},
      {"jump\n", "error: line 1: unknown action \"jump\""},
      {"sleep soon\n", "error: line 1: sleep needs milliseconds, not \"soon\""},
      {"answer Maybe\nmenu mnuAbout\n", "error: line 2: frmAbout has no button or option \"Maybe\""},
  };
  for (const Case& c : cases) {
    ScriptRun r = run(c.script);
    EXPECT_EQ(r.status, 1) << c.script;
    ASSERT_FALSE(r.lines.empty()) << c.script;
    EXPECT_EQ(r.lines.back(), c.error) << c.script;
  }
}

TEST_F(ScriptDriver, AModalDialogTakesAllInput) {
  makeMachine();
  setSetting("Show Intro", "0");
  ScriptRun r = run("click tlbCmdSpy\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.lines, ElementsAre("screen: fraBackup", "dialog: frmGlavni", "dialog: TipOfDay",
                                   "error: line 1: tlbCmdSpy: frmGlavni takes no input while TipOfDay is open"));
}

TEST_F(ScriptDriver, TheOperatingSystemCheckEndsTheRun) {
  makeMachine(apptest::programMachine().setVariable("OS", "Windows_NT"));
  setSetting("Show Intro", "0");
  ScriptRun r = run("# nothing to do\n");
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_EQ(r.lines[0].rfind("message: OS incompatibility | information | Thank you for your interest", 0), 0u);
  EXPECT_EQ(r.lines[1], "exit");
  ScriptRun after = run("click tlbCmdSpy\n");
  EXPECT_EQ(after.lines.back(), "error: line 1: tlbCmdSpy: the program has ended");
}

TEST_F(ScriptDriver, SleepLetsTheStatusTimerRun) {
  makeMachine();
  setSetting("Show Intro", "0");
  setSetting("Show Tips at Startup", "0");
  // The status line of a click stays until its timer, 3000 ms later,
  // clears it: within a short sleep it stays, within a long one it goes.
  ScriptRun shortSleep = run("click txtComments\nsleep 100\nclose\n");
  EXPECT_EQ(shortSleep.status, 0);
  EXPECT_THAT(shortSleep.lines, ElementsAre("screen: fraBackup", "dialog: frmGlavni",
                                            "status: Enter your notes ,please...", "exit"));
  // Closing the main window is the end; a sleep after it has nothing to run.
  ScriptRun r = run("click txtComments\nsleep 3300\nclose\nsleep 10\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.lines, ElementsAre("screen: fraBackup", "dialog: frmGlavni", "status: Enter your notes ,please...",
                                   "status: ", "exit"));
}

}  // namespace
