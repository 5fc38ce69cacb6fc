// Windows' own registry backups in a new machine.
#include <gtest/gtest.h>

#include "cab/reader.h"
#include "platform/files.h"
#include "support.h"
#include "tests/support/test_machine.h"
#include "tools/sysbckup/sysbckup.h"
#include "platform/registry/creg_file.h"
#include "platform/registry/hive_store.h"
#include "platform/registry/script_text.h"

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

platform::hive::Hive hklm(const std::string& bytes) {
  return platform::hive::parseHiveFile(bytes, platform::hive::kSystemHive, "System.dat");
}

TEST(OlderHive, KeepsTheFirstProgramsAndEveryOtherKey) {
  platform::hive::Hive h = hklm(kSystemDat);
  EXPECT_EQ(sysbckup::programCount(h.top()), 4u);
  sysbckup::keepFirstPrograms(h.top(), 1);
  EXPECT_EQ(sysbckup::programCount(h.top()), 1u);
  const std::string text = platform::hive::hiveText(h.top());
  EXPECT_NE(text.find("Uninstall\\WinZip\\Sub]"), std::string::npos);
  EXPECT_EQ(text.find("Office"), std::string::npos);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet]"), std::string::npos);
  platform::hive::Hive all = hklm(kSystemDat);
  sysbckup::keepFirstPrograms(all.top(), 4);
  EXPECT_EQ(platform::hive::hiveText(all.top()), platform::hive::hiveText(hklm(kSystemDat).top()));
}

// Of a machine whose hives are still text (made before they were registry
// files), and of an ME machine with Classes.dat.
class WindowsBackups : public testing::TestWithParam<bool> {};

TEST_P(WindowsBackups, ThreeCabinetsOfOlderStatesOneWithoutUserDat) {
  const bool me = GetParam();
  // On a disk image, whose hidden and system bits the cabinets must carry.
  testsupport::TestMachine tm({.c = testsupport::DriveForm::Image});
  platform::Machine m = tm.open();
  platform::writeFile(m, "C:\\WINDOWS\\System.dat", kSystemDat);
  platform::writeFile(m, "C:\\WINDOWS\\User.dat", "REGEDIT4\r\n\r\n[HKEY_USERS\\.DEFAULT\\Control Panel]\r\n\r\n");
  if (me) platform::writeFile(m, "C:\\WINDOWS\\Classes.dat", "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\.txt]\r\n@=\"txtfile\"\r\n\r\n");
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
    std::vector<std::string> want;
    if (me) want.push_back("Classes.dat");
    want.push_back("System.dat");
    if (n != 1) want.push_back("User.dat");
    want.push_back("System.ini");
    want.push_back("Win.ini");
    EXPECT_EQ(names, want);
    EXPECT_EQ(files.back().second, "[windows]\r\nload=\r\n");
    // The hives are registry files with the machine's keys.
    for (size_t i = 0; i + 2 < files.size(); ++i) EXPECT_TRUE(platform::hive::isCreg(files[i].second)) << files[i].first;
    const size_t system = me ? 1 : 0;
    platform::hive::Hive h = hklm(files[system].second);
    size_t programs = sysbckup::programCount(h.top());
    EXPECT_LT(programs, 4u);
    EXPECT_GE(programs, lastPrograms);
    lastPrograms = programs;
    EXPECT_TRUE(h.top().findChild("System")->findChild("CurrentControlSet"));
    if (me) {
      platform::hive::Hive c = platform::hive::parseHiveFile(files[0].second, platform::hive::kClassesHive, "Classes.dat");
      EXPECT_EQ(c.top().findChild(".txt")->findValue("")->data, std::string("txtfile\0", 8));
    }
    EXPECT_EQ(r.members()[system].attributes, platform::kReadOnly | platform::kHidden | platform::kSystem);
    platform::DateTime d = platform::lastModified(m, name);
    EXPECT_GT(d.toTime(), lastDate.toTime());
    EXPECT_LT(d.toTime(), std::time(nullptr) - 86400);
    lastDate = d;
  }
}

INSTANTIATE_TEST_SUITE_P(Windows98AndME, WindowsBackups, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ME" : "Win98"; });

}  // namespace

namespace {

TEST_P(WindowsBackups, NewMachineHasThemAndPuxListsThem) {
  const bool me = GetParam();
  TempDir tmp;
  fs::path dir = tmp / "machine";
  std::vector<std::string> init{MACHINE_EXE, "init", dir.string()};
  if (me) init.push_back("--me");
  Ran made = run(init, kToolBudget, kMerged);
  ASSERT_EQ(made.status, 0) << made.out;
  for (int n = 0; n < 3; ++n) {
    std::string cabinet = "C:\\WINDOWS\\SYSBCKUP\\RB00" + std::to_string(n) + ".CAB";
    Ran list = run({PUX_EXE, "/D", cabinet}, kToolBudget, {.machine = dir, .mergeOutput = true});
    ASSERT_EQ(list.status, 0) << list.out;
    for (const char* member : {"System.dat", "System.ini", "Win.ini"})
      EXPECT_NE(list.out.find(member), std::string::npos) << cabinet << "\n" << list.out;
    EXPECT_EQ(list.out.find("User.dat") != std::string::npos, n != 1) << list.out;
    // Windows ME backs up its third hive as well.
    EXPECT_EQ(list.out.find("Classes.dat") != std::string::npos, me) << list.out;
  }
}

}  // namespace
