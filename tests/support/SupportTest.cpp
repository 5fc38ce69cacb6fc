// The shared test support itself: a runner that keeps its budget, a child
// environment free of the host's overrides, and the image drives filled
// with what the folder drives would hold.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/environment.h"
#include "tests/support/host_files.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_machine.h"
#include "tests/support/wait.h"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

TEST(Run, GivesStatusOutputsAndTakesInput) {
  Ran r = run({"/bin/sh", "-c", "cat; echo to-err >&2; exit 3"}, 20s, {.input = "fed\n"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "fed\n");
  EXPECT_EQ(r.err, "to-err\n");
  EXPECT_FALSE(r.timedOut);

  // More input than a pipe holds, while the child writes as much back.
  const std::string big(3 << 20, 'x');
  Ran echoed = run({"cat"}, 60s, {.input = big});
  EXPECT_EQ(echoed.status, 0);
  EXPECT_TRUE(echoed.out == big) << echoed.out.size() << " bytes back";

  Ran merged = runShell("echo one; echo two >&2; echo three", 20s, {.mergeOutput = true});
  EXPECT_EQ(merged.out, "one\ntwo\nthree\n");
  EXPECT_EQ(merged.err, "");

  Ran killed = runShell("kill -9 $$", 20s);
  EXPECT_EQ(killed.status, 128 + 9);

  Ran missing = run({"/nonexistent/tool"}, 20s);
  EXPECT_EQ(missing.status, -1);
  EXPECT_NE(missing.err.find("/nonexistent/tool"), std::string::npos) << missing.err;
}

TEST(Run, AChildPastItsBudgetIsKilledWithWhatItStartedAndTheTestFails) {
  TempDir dir;
  const fs::path mark = dir / "grandchild-lived";
  const auto began = std::chrono::steady_clock::now();
  Ran r;
  EXPECT_NONFATAL_FAILURE(
      r = runShell("echo started; (sleep 2; touch " + quote(mark.string()) + ") & sleep 30", 300ms),
      "ran longer than its budget of 300 ms and was killed");
  EXPECT_LT(std::chrono::steady_clock::now() - began, 5s);
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.out, "started\n");
  std::this_thread::sleep_for(2500ms);
  EXPECT_FALSE(fs::exists(mark)) << "what the child started outlived the budget";
}

TEST(Run, TheChildSeesNoneOfTheHostsOverrides) {
  ScopedEnv os("OS", "Windows_NT");
  ScopedEnv windir("windir", "C:\\WINNT");
  ScopedEnv comspec("BRAKVEL9X_ENV_COMSPEC", "C:\\WINNT\\CMD.EXE");
  ScopedEnv proxy("http_proxy", "http://127.0.0.1:3128");
  ScopedEnv kept("BRAKVEL9X_TEST_KEPT", "yes");
  Ran r = run({"/usr/bin/env"}, 20s, {.machine = "/m", .env = {{"EXTRA", "1"}, {"BRAKVEL9X_TEST_KEPT", std::nullopt}}});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string lines = "\n" + r.out;
  for (const char* gone : {"OS=", "windir=", "BRAKVEL9X_ENV_", "http_proxy=", "BRAKVEL9X_TEST_KEPT="})
    EXPECT_EQ(lines.find(std::string("\n") + gone), std::string::npos) << gone;
  EXPECT_NE(lines.find("\nBRAKVEL9X_MACHINE=/m\n"), std::string::npos) << r.out;
  EXPECT_NE(lines.find("\nEXTRA=1\n"), std::string::npos) << r.out;
}

TEST(Machine, ClearsTheHostsOverridesInThisProcess) {
  ScopedEnv os("OS", "Windows_NT");
  ScopedEnv path("BRAKVEL9X_ENV_PATH", "C:\\ELSEWHERE");
  TestMachine tm;
  EXPECT_FALSE(tm.machine().env("OS"));
  EXPECT_EQ(tm.machine().env("PATH"), "C:\\WINDOWS;C:\\WINDOWS\\COMMAND");
}

TEST(Child, ReadsLinesAndWaitsWithinABudget) {
  Child c({"/bin/sh", "-c", "echo first; echo second; exit 4"});
  EXPECT_EQ(c.readLine(), "first");
  EXPECT_EQ(c.readLine(), "second");
  EXPECT_EQ(c.wait(20s), 4);

  Child slow({"/bin/sleep", "30"});
  int status = 0;
  EXPECT_NONFATAL_FAILURE(status = slow.wait(200ms), "ran longer than its budget");
  EXPECT_EQ(status, -1);
}

TEST(WaitUntil, SaysWhatItWaitedForInVain) {
  int asked = 0;
  EXPECT_TRUE(waitUntil([&] { return ++asked == 3; }, 5s, "the third question"));
  bool result = true;
  EXPECT_NONFATAL_FAILURE(result = waitUntil([] { return false; }, 50ms, "nothing at all"),
                          "waited 50 ms for nothing at all in vain");
  EXPECT_FALSE(result);
}

// --- drive forms --------------------------------------------------------------

Ran mtools(const std::string& tool, const fs::path& image, const std::vector<std::string>& args) {
  std::vector<std::string> argv{tool, "-i", image.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv, 60s, {.env = {{"MTOOLS_SKIP_CHECK", "1"}}, .mergeOutput = true});
}

TEST(Machine, ImageDrivesHoldWhatTheFolderDrivesWould) {
  if (!haveProgram("mkfs.fat") || !haveProgram("mcopy")) GTEST_SKIP() << "dosfstools and mtools are needed";
  const MachineOptions systemSet{.windows = Windows::WinME, .layout = Layout::SystemSet};
  TestMachine folder(systemSet);
  MachineOptions imaged = systemSet;
  imaged.c = imaged.a = DriveForm::Image;
  TestMachine image(imaged);

  const std::string ini = slurp(image.dir() / "machine.ini");
  EXPECT_NE(ini.find("C=disk.img"), std::string::npos) << ini;
  EXPECT_NE(ini.find("A=floppy.img"), std::string::npos) << ini;
  EXPECT_FALSE(fs::exists(image.dir() / "drive_c"));
  EXPECT_FALSE(fs::exists(image.dir() / "drive_a"));

  for (const char* f : {"WINDOWS/Classes.dat", "WINDOWS/System.dat", "WINDOWS/Win.ini", "_restore/ARCHIVE/FS0.CAB"}) {
    Ran typed = mtools("mtype", image.image('C'), {std::string("::/") + f});
    EXPECT_EQ(typed.status, 0) << f << ": " << typed.out;
    EXPECT_EQ(typed.out, slurp(folder.c() / f)) << f;
  }
  for (const char* sub : {"Rescue", "Exchange", "undo", "util"}) {
    Ran listed = mtools("mdir", image.image('C'), {std::string("::/Program Files/Brakvel 9x/") + sub});
    EXPECT_EQ(listed.status, 0) << sub << ": " << listed.out;
  }
  for (char d : {'C', 'A'}) {
    Ran checked = run({"fsck.fat", "-n", image.image(d).string()}, 60s, {.mergeOutput = true});
    EXPECT_EQ(checked.status, 0) << d << ": " << checked.out;
  }
  EXPECT_EQ(fs::file_size(image.image('A')), 1474560u);
}

TEST(Machine, NoFloppyImageIsNoDisk) {
  if (!haveProgram("mkfs.fat")) GTEST_SKIP() << "dosfstools is needed";
  TestMachine tm({.floppy = Floppy::None, .a = DriveForm::Image});
  EXPECT_NE(slurp(tm.dir() / "machine.ini").find("A=floppy.img"), std::string::npos);
  EXPECT_FALSE(fs::exists(tm.image('A')));
  EXPECT_FALSE(fs::exists(tm.dir() / "drive_a"));
}

TEST(Machine, FolderOptionsShowInTheMachine) {
  TestMachine wp({.floppy = Floppy::WriteProtected, .settings = {{"Floppy", "Capacity", "512"}}});
  EXPECT_EQ(wp.machine().ini("Floppy", "WriteProtected"), "1");
  EXPECT_EQ(wp.machine().ini("Floppy", "Capacity"), "512");
  EXPECT_TRUE(fs::is_directory(wp.dir() / "drive_a"));

  TestMachine fresh({.layout = Layout::Fresh, .floppy = Floppy::None, .driveD = true});
  EXPECT_EQ(fresh.machine().drives(), (std::vector<char>{'A', 'C', 'D'}));
  EXPECT_FALSE(fs::exists(fresh.dir() / "drive_a"));
  EXPECT_TRUE(fs::is_directory(fresh.dir() / "drive_d" / "Brakvel 9x"));
  EXPECT_TRUE(fs::is_directory(fresh.windows() / "Sysbckup"));
}

}  // namespace
