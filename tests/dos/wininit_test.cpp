// The start-up processing of WinInit.ini after a restart.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <sstream>
#include <thread>

#include "platform/files.h"
#include "tools/rundll32/restart.h"
#include "test_machine.h"
#include "tests/support/process.h"

using dostest::TestMachine;
namespace fs = std::filesystem;

namespace {

const std::string kProgram = "C:\\Program Files\\Brakvel 9x";
const std::string kIni = "C:\\WINDOWS\\WinInit.ini";

std::string S(const TestMachine& t, const std::string& path) { return t.m().shortPath(path); }

restart::WinInitResult winInit(const TestMachine& t, std::string* out = nullptr) {
  std::ostringstream s;
  auto r = restart::runWinInit(t.m(), s);
  if (out) *out = s.str();
  return r;
}

}  // namespace

TEST(WinInit, CarriesOutRenameLinesInOrderAndKeepsTheFileAsBak) {
  TestMachine t;
  for (const char* n : {"System.dat", "Win.ini"}) t.write(kProgram + "\\Exchange\\" + n, std::string("exchange ") + n);
  t.write(kProgram + "\\undo\\System.dat", "undo System.dat");
  t.write("C:\\WINDOWS\\OLD.TMP", "old");
  platform::setAttributes(t.m(), "C:\\WINDOWS\\System.dat",
                          platform::kReadOnly | platform::kHidden | platform::kSystem);
  std::string text =
      "[CombineVxDs]\r\nC:\\WINDOWS\\SYSTEM\\VMM32.VXD=C:\\WINDOWS\\OLD.TMP\r\n"
      "[Rename]\r\n" +
      S(t, "C:\\WINDOWS\\System.dat") + "=" + S(t, kProgram + "\\Exchange\\System.dat") + "\r\n" +
      S(t, "C:\\WINDOWS\\Win.ini") + "=" + S(t, kProgram + "\\Exchange\\Win.ini") + "\r\n" +
      "NUL=C:\\WINDOWS\\OLD.TMP\r\n" + "; a comment\r\n" +
      // a later line for the same target wins, as it comes later
      S(t, "C:\\WINDOWS\\System.dat") + "=" + S(t, kProgram + "\\undo\\System.dat") + "\r\n" +
      "[Other]\r\nC:\\WINDOWS\\USER.DAT=C:\\WINDOWS\\WIN.INI\r\n";
  t.write(kIni, text);
  t.write("C:\\WINDOWS\\WinInit.bak", "an older one");

  std::string out;
  auto r = winInit(t, &out);
  EXPECT_TRUE(r.present);
  EXPECT_EQ(r.carriedOut, 4);
  EXPECT_TRUE(r.problems.empty());
  EXPECT_EQ(out,
            "WININIT: C:\\WINDOWS\\SYSTEM.DAT replaced by C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE\\SYSTEM.DAT\n"
            "WININIT: C:\\WINDOWS\\WIN.INI replaced by C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE\\WIN.INI\n"
            "WININIT: C:\\WINDOWS\\OLD.TMP deleted\n"
            "WININIT: C:\\WINDOWS\\SYSTEM.DAT replaced by C:\\PROGRA~1\\BRAKVE~1\\UNDO\\SYSTEM.DAT\n"
            "WININIT: WinInit.ini renamed to WinInit.bak\n");
  EXPECT_EQ(t.read("C:\\WINDOWS\\System.dat"), "undo System.dat");
  EXPECT_EQ(t.read("C:\\WINDOWS\\Win.ini"), "exchange Win.ini");
  // sources are moved, not copied
  EXPECT_FALSE(t.exists(kProgram + "\\Exchange\\System.dat"));
  EXPECT_FALSE(t.exists(kProgram + "\\Exchange\\Win.ini"));
  EXPECT_FALSE(t.exists(kProgram + "\\undo\\System.dat"));
  EXPECT_FALSE(t.exists("C:\\WINDOWS\\OLD.TMP"));
  // other sections untouched; the file is kept whole as WinInit.bak
  EXPECT_EQ(t.read("C:\\WINDOWS\\User.dat"), "live User.dat");
  EXPECT_FALSE(t.exists(kIni));
  EXPECT_EQ(t.read("C:\\WINDOWS\\WinInit.bak"), text);
  // a second start finds nothing to do
  r = winInit(t, &out);
  EXPECT_FALSE(r.present);
  EXPECT_EQ(out, "WININIT: no WinInit.ini in C:\\WINDOWS, nothing to do\n");
}

TEST(WinInit, ReportsLinesItCannotCarryOutAndDoesTheRest) {
  TestMachine t;
  t.write(kProgram + "\\Exchange\\User.dat", "exchange User.dat");
  std::string exch = S(t, kProgram + "\\Exchange");
  t.write(kIni, "[Rename]\r\n"
                "C:\\WINDOWS\\SYSTEM.DAT=" + exch + "\\SYSTEM.DAT\r\n"  // source missing
                "C:\\WINDOWS\\SYSTEM.INI=\r\n"                         // empty side
                "NUL=C:\\WINDOWS\\GONE.TMP\r\n"
                "C:\\WINDOWS\\USER.DAT=C:\\Program Files\\Brakvel 9x\\Exchange\\User.dat\r\n"  // long name
                "C:\\NOFOLDER\\USER.DAT=" + exch + "\\USER.DAT\r\n"
                "nonsense line\r\n"
                "C:\\WINDOWS\\USER.DAT=" + exch + "\\USER.DAT");  // last line without CR LF
  std::string out;
  auto r = winInit(t, &out);
  EXPECT_EQ(r.carriedOut, 1);
  ASSERT_EQ(r.problems.size(), 6u) << out;
  EXPECT_EQ(r.problems[0], "C:\\WINDOWS\\SYSTEM.DAT not replaced: " + exch + "\\SYSTEM.DAT not found");
  EXPECT_EQ(r.problems[1], "C:\\WINDOWS\\SYSTEM.INI not replaced: no source given");
  EXPECT_EQ(r.problems[2], "C:\\WINDOWS\\GONE.TMP not found, nothing deleted");
  // WININIT runs before long names exist
  EXPECT_NE(r.problems[3].find("not found"), std::string::npos);
  EXPECT_EQ(r.problems[4], "C:\\NOFOLDER\\USER.DAT not replaced: its folder does not exist");
  EXPECT_EQ(r.problems[5], "not a rename line, passed over: nonsense line");
  EXPECT_EQ(t.read("C:\\WINDOWS\\System.dat"), "live System.dat");
  EXPECT_EQ(t.read("C:\\WINDOWS\\System.ini"), "live System.ini");
  EXPECT_EQ(t.read("C:\\WINDOWS\\User.dat"), "exchange User.dat");
  EXPECT_TRUE(t.exists("C:\\WINDOWS\\WinInit.bak"));
}

TEST(WinInit, RestartWithoutRunningProgramsStartsWindows) {
  TestMachine t;
  t.write(kProgram + "\\Exchange\\Win.ini", "exchange Win.ini");
  t.write(kIni, "[Rename]\r\nC:\\WINDOWS\\WIN.INI=" + S(t, kProgram + "\\Exchange\\Win.ini") + "\r\n");
  std::ostringstream out;
  EXPECT_EQ(restart::restartMachine(t.m(), out, 2000), 0);
  EXPECT_EQ(out.str(),
            "Windows is restarting...\n"
            "WININIT: C:\\WINDOWS\\WIN.INI replaced by C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE\\WIN.INI\n"
            "WININIT: WinInit.ini renamed to WinInit.bak\n"
            "Windows has started.\n");
  EXPECT_EQ(t.read("C:\\WINDOWS\\Win.ini"), "exchange Win.ini");
}

namespace {

// The machine's RUNDLL32 restarting it, as a process that can be killed.
std::unique_ptr<testsupport::Child> startRestart(const TestMachine& t) {
  return std::make_unique<testsupport::Child>(
      std::vector<std::string>{RUNDLL32_EXE, "shell32.dll,SHExitWindowsEx", "2"}, testsupport::Child::Output::Discard,
      testsupport::RunOptions{.machine = t.root(), .env = {{"BRAKVEL9X_CMDLINE", std::nullopt}}});
}

}  // namespace

TEST(WinInit, ARestartKilledAtAnyMomentIsFinishedByTheNext) {
  std::mt19937 random(18);
  std::chrono::microseconds runTime{0};
  int interrupted = 0;
  for (int trial = 0; trial < 24; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    TestMachine t(trial % 2 == 1);
    std::map<std::string, std::string> staged;
    std::string text = "[Rename]\r\n";
    for (const std::string& n : TestMachine::systemFiles(trial % 2 == 1)) {
      staged[n] = std::string(120000, static_cast<char>('a' + n.size())) + n;
      t.write(kProgram + "\\Exchange\\" + n, staged[n]);
      if (n.find(".dat") != std::string::npos)
        platform::setAttributes(t.m(), "C:\\WINDOWS\\" + n, platform::kReadOnly | platform::kHidden | platform::kSystem);
      text += S(t, "C:\\WINDOWS\\" + n) + "=" + S(t, kProgram + "\\Exchange\\" + n) + "\r\n";
    }
    t.write("C:\\WINDOWS\\SETUP.TMP", "old");
    text += "NUL=C:\\WINDOWS\\SETUP.TMP\r\n";
    t.write(kIni, text);

    auto rundll = startRestart(t);
    if (trial == 0) {  // the first runs whole, to time a run
      auto began = std::chrono::steady_clock::now();
      ASSERT_EQ(rundll->wait(std::chrono::seconds(60)), 0);
      runTime = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - began);
    } else {
      std::uniform_int_distribution<long> at(0, runTime.count() * 3 / 2);
      std::this_thread::sleep_for(std::chrono::microseconds(at(random)));
      rundll->kill();
      bool begun = t.exists("C:\\WINDOWS\\WinInit.run") || !t.exists(kProgram + "\\Exchange\\Win.ini");
      if (t.exists(kIni) && begun) ++interrupted;
      std::ostringstream s;
      EXPECT_EQ(restart::restartMachine(t.m(), s, 2000), 0) << s.str();
      EXPECT_EQ(s.str().find("not "), std::string::npos) << s.str();
    }
    for (auto& [n, bytes] : staged) {
      EXPECT_EQ(t.read("C:\\WINDOWS\\" + n), bytes) << n;
      EXPECT_FALSE(t.exists(kProgram + "\\Exchange\\" + n)) << n;
    }
    EXPECT_FALSE(t.exists("C:\\WINDOWS\\SETUP.TMP"));
    EXPECT_FALSE(t.exists(kIni));
    EXPECT_FALSE(t.exists("C:\\WINDOWS\\WinInit.run"));
    EXPECT_EQ(t.read("C:\\WINDOWS\\WinInit.bak"), text);
    for (const auto& e : fs::directory_iterator(t.m().toHost("C:\\WINDOWS")))
      EXPECT_EQ(e.path().filename().string().rfind(".~brakvel-", 0), std::string::npos) << "a partial copy: " << e.path();
  }
  // Some kills landed in the middle of the work.
  EXPECT_GT(interrupted, 0);
}
