// Windows' own registry backups in a new machine.
#include <gtest/gtest.h>

#include "cab/reader.h"
#include "platform/files.h"
#include "support.h"
#include "tests/platform/TempMachine.h"
#include "tools/sysbckup/sysbckup.h"

using namespace cabtest;

namespace {

const std::string kSystemDat =
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\WinZip]\r\n"
    "\"DisplayName\"=\"WinZip\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\WinZip\\Sub]\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Office]\r\n"
    "\"DisplayName\"=\"Microsoft Office 97\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Winamp]\r\n"
    "\"DisplayName\"=\"Winamp\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Brakvel 9x]\r\n"
    "\"DisplayName\"=\"Brakvel 9x\"\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet]\r\n\r\n";

TEST(OlderHive, KeepsTheFirstProgramsAndEveryOtherKey) {
  EXPECT_EQ(sysbckup::programCount(kSystemDat), 4u);
  std::string older = sysbckup::olderHive(kSystemDat, 1);
  EXPECT_EQ(sysbckup::programCount(older), 1u);
  EXPECT_NE(older.find("Uninstall\\WinZip\\Sub]"), std::string::npos);
  EXPECT_EQ(older.find("Office"), std::string::npos);
  EXPECT_NE(older.find("[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet]"), std::string::npos);
  EXPECT_EQ(sysbckup::olderHive(kSystemDat, 4), kSystemDat);
}

TEST(WindowsBackups, ThreeCabinetsOfOlderStatesOneWithoutUserDat) {
  testing_machine::TempMachine tm;
  platform::Machine m = tm.open();
  platform::writeFile(m, "C:\\WINDOWS\\System.dat", kSystemDat);
  platform::writeFile(m, "C:\\WINDOWS\\User.dat", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Control Panel]\r\n\r\n");
  platform::writeFile(m, "C:\\WINDOWS\\System.ini", "[boot]\r\nshell=Explorer.exe\r\n");
  platform::writeFile(m, "C:\\WINDOWS\\Win.ini", "[windows]\r\nload=\r\n");
  platform::setAttributes(m, "C:\\WINDOWS\\System.dat", platform::kReadOnly | platform::kHidden | platform::kSystem);
  sysbckup::writeWindowsBackups(m);

  size_t lastPrograms = 0;
  platform::DateTime lastDate{};
  for (int n = 0; n < 3; ++n) {
    std::string name = "C:\\WINDOWS\\SYSBCKUP\\rb00" + std::to_string(n) + ".cab";
    SCOPED_TRACE(name);
    ASSERT_TRUE(platform::fileExists(m, name));
    cab::Reader r(std::make_unique<cab::MemoryInStream>(platform::readFile(m, name)), name);
    Files files = readCabinet(platform::readFile(m, name));
    std::vector<std::string> names;
    for (auto& f : files) names.push_back(f.first);
    if (n == 1) {
      EXPECT_EQ(names, (std::vector<std::string>{"System.dat", "System.ini", "Win.ini"}));
    } else {
      EXPECT_EQ(names, (std::vector<std::string>{"System.dat", "User.dat", "System.ini", "Win.ini"}));
    }
    EXPECT_EQ(files.back().second, "[windows]\r\nload=\r\n");
    size_t programs = sysbckup::programCount(files[0].second);
    EXPECT_LT(programs, 4u);
    EXPECT_GE(programs, lastPrograms);
    lastPrograms = programs;
    EXPECT_EQ(r.members()[0].attributes, platform::kReadOnly | platform::kHidden | platform::kSystem);
    platform::DateTime d = platform::lastModified(m, name);
    EXPECT_GT(d.toTime(), lastDate.toTime());
    EXPECT_LT(d.toTime(), std::time(nullptr) - 86400);
    lastDate = d;
  }
}

}  // namespace

namespace {

TEST(WindowsBackups, NewMachineHasThemAndPuxListsThem) {
  TempDir tmp;
  fs::path dir = tmp / "machine";
  Ran init = run(quote(MACHINE_EXE) + " init " + quote(dir.string()));
  ASSERT_EQ(init.status, 0) << init.output;
  for (int n = 0; n < 3; ++n) {
    std::string cabinet = "C:\\WINDOWS\\SYSBCKUP\\RB00" + std::to_string(n) + ".CAB";
    Ran list = run("BRAKVEL9X_MACHINE=" + quote(dir.string()) + " " + quote(PUX_EXE) + " /D " + quote(cabinet));
    ASSERT_EQ(list.status, 0) << list.output;
    for (const char* member : {"System.dat", "System.ini", "Win.ini"})
      EXPECT_NE(list.output.find(member), std::string::npos) << cabinet << "\n" << list.output;
    EXPECT_EQ(list.output.find("User.dat") != std::string::npos, n != 1) << list.output;
  }
}

}  // namespace
