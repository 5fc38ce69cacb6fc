#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/support/host_attributes.h"
#include "tests/support/test_machine.h"
#include "tests/support/errors.h"
#include "tests/support/environment.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/machine.h"

using namespace platform;
using testsupport::ScopedEnv;
using TempMachine = testsupport::TestMachine;
using testsupport::errorOf;

namespace {

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

// --- machine.ini ---------------------------------------------------------------

TEST(MachineIni, BadFilesAreRefusedNamingFileAndLine) {
  struct Case {
    const char* ini;
    const char* message;  // part of the error text
  } cases[] = {
      {"[Machine]\nVersion=98\n", "machine.ini: [Drives] maps no drive"},
      {"[Drives]\nC=drive_c\nthis is no setting\n", "machine.ini:3: expected [Section] or Name=Value"},
      {"C=drive_c\n[Drives]\n", "machine.ini:1: 'C=drive_c' comes before any [Section]"},
      {"[Drives]\nCC=drive_c\n", "machine.ini:2: drive 'CC' is not a drive letter"},
      {"[Drives]\nC=\n", "machine.ini:2: drive C: maps no folder"},
      {"[Drives]\nC=drive_c\nc=drive_c\n", "machine.ini:3: drive C: is mapped twice"},
      {"[Drives]\nC=drive_c\nD=drive_d\n", "machine.ini:3: the folder of drive D: ("},
      {"[Machine]\nVersion=95\n[Drives]\nC=drive_c\n", "machine.ini:2: Version=95 is not 98 or ME"},
      {"[Drives]\nC=drive_c\n[Floppy]\nWriteProtected=yes\n", "machine.ini:4: WriteProtected=yes"},
      {"[Drives]\nC=drive_c\n[Floppy]\nCapacity=1.44MB\n", "machine.ini:4: Capacity=1.44MB is not a number"},
      {"[Drives]\nA=drive_a\n[Environment]\nWinDir=C:\\WINDOWS\n", "machine.ini:4: WinDir=C:\\WINDOWS is on drive C:, which [Drives] does not map"},
      {"[Drives]\nC=drive_c\n[Environment]\nWinDir=WINDOWS\n", "machine.ini:4: WinDir=WINDOWS is not a drive path"},
      {"[]\n", "machine.ini:1: empty section name"},
  };
  for (const auto& c : cases) {
    TempMachine tm({.ini = c.ini});
    try {
      tm.open();
      ADD_FAILURE() << "accepted:\n" << c.ini;
    } catch (const MachineError& e) {
      std::string what = e.what();
      EXPECT_NE(what.find(c.message), std::string::npos) << what;
      EXPECT_NE(what.find(tm.dir().string()), std::string::npos) << what;
    }
  }
}

TEST(MachineIni, MissingFileOrFolderIsNamed) {
  TempMachine tm;
  fs::remove(tm.dir() / "machine.ini");
  try {
    tm.open();
    ADD_FAILURE();
  } catch (const MachineError& e) {
    EXPECT_NE(std::string(e.what()).find((tm.dir() / "machine.ini").string() + ": missing"),
              std::string::npos);
  }
  try {
    Machine::open(tm.dir() / "nowhere");
    ADD_FAILURE();
  } catch (const MachineError& e) {
    EXPECT_NE(std::string(e.what()).find("nowhere does not exist"), std::string::npos);
  }
}

TEST(MachineIni, AcceptsCommentsBlanksCrLfAndAMissingFloppy) {
  TempMachine tm({.floppy = testsupport::Floppy::None,
                  .ini = "; a machine\r\n\r\n[Drives]\r\n  C = drive_c  \r\n# floppy\r\nA=drive_a\r\n"
                         "[Internet]\r\nConnection=lan\r\n"});
  Machine m = tm.open();
  EXPECT_EQ(m.drives(), (std::vector<char>{'A', 'C'}));
  EXPECT_EQ(m.driveFolder('c'), tm.c());
  EXPECT_TRUE(m.isFloppy('a'));
  EXPECT_FALSE(m.isFloppy('C'));
  EXPECT_FALSE(m.driveFolder('D'));
  EXPECT_EQ(m.ini("internet", "CONNECTION"), "lan");
  EXPECT_FALSE(m.ini("Internet", "WorkMode"));
}

TEST(MachineIni, SetIniRewritesOneValueAndKeepsTheRest) {
  TempMachine tm({.ini = "; keep me\n[Drives]\nC=drive_c\n[Floppy]\nWriteProtected=0\n; and me\n[Internet]\nConnection=lan\n"});
  Machine m = tm.open();
  m.setIni("Floppy", "writeprotected", "1");
  m.setIni("Floppy", "Capacity", "2000");
  m.setIni("Environment", "OS", "Windows_NT");
  EXPECT_EQ(slurp(tm.dir() / "machine.ini"),
            "; keep me\n[Drives]\nC=drive_c\n[Floppy]\nWriteProtected=1\nCapacity=2000\n; and me\n"
            "[Internet]\nConnection=lan\n\n[Environment]\nOS=Windows_NT\n");
  EXPECT_EQ(m.ini("Floppy", "WriteProtected"), "1");
  EXPECT_EQ(tm.open().ini("Floppy", "Capacity"), "2000");
  EXPECT_EQ(m.env("os"), "Windows_NT");
  for (auto& e : fs::directory_iterator(tm.dir())) {
    EXPECT_TRUE(e.path().filename() == "machine.ini" || e.is_directory()) << e.path();
  }
}

TEST(MachineDir, DefaultDirFollowsTheEnvironment) {
  {
    ScopedEnv m("BRAKVEL9X_MACHINE", "/somewhere/m");
    EXPECT_EQ(Machine::defaultDir(), fs::path("/somewhere/m"));
  }
  ScopedEnv m("BRAKVEL9X_MACHINE", nullptr);
  {
    ScopedEnv x("XDG_DATA_HOME", "/data");
    EXPECT_EQ(Machine::defaultDir(), fs::path("/data/brakvel9x/demo"));
  }
  ScopedEnv x("XDG_DATA_HOME", nullptr);
  ScopedEnv h("HOME", "/home/someone");
  EXPECT_EQ(Machine::defaultDir(), fs::path("/home/someone/.local/share/brakvel9x/demo"));
}

// --- environment -------------------------------------------------------------

TEST(MachineEnv, HostVariablesOverrideTheMachine) {
  TempMachine tm;
  Machine m = tm.open();
  struct Case {
    const char* hostName;
    const char* hostValue;  // null: not set
    const char* asked;
    std::optional<std::string> expected;
  } cases[] = {
      {"OS", nullptr, "OS", std::nullopt},
      {"OS", "Windows_NT", "OS", "Windows_NT"},
      {"OS", "Windows_NT", "os", "Windows_NT"},
      {"WinDir", nullptr, "windir", "C:\\WINDOWS"},
      {"WinDir", "", "WinDir", std::nullopt},  // empty removes
      {"WinDir", "D:\\WIN", "WINDIR", "D:\\WIN"},
      {"BRAKVEL9X_ENV_WinDir", "", "WinDir", std::nullopt},
      {"PATH", "/usr/bin", "PATH", "C:\\WINDOWS;C:\\WINDOWS\\COMMAND"},  // the host's own
      {"TEMP", "/tmp", "TEMP", "C:\\WINDOWS\\TEMP"},
      {"COMSPEC", "/bin/sh", "ComSpec", "C:\\WINDOWS\\COMMAND.COM"},
      {"BRAKVEL9X_ENV_PATH", "C:\\UTIL", "Path", "C:\\UTIL"},
      {"BRAKVEL9X_ENV_TEMP", "", "TEMP", std::nullopt},
      {"BRAKVEL9X_ENV_BLASTER", "A220 I5", "BLASTER", "A220 I5"},
  };
  for (const auto& c : cases) {
    ScopedEnv e(c.hostName, c.hostValue);
    EXPECT_EQ(m.env(c.asked), c.expected) << c.hostName << "=" << (c.hostValue ? c.hostValue : "(unset)");
  }
}

TEST(MachineEnv, EnvironmentBlockAppliesTheOverrides) {
  TempMachine tm;
  Machine m = tm.open();
  ScopedEnv os("OS", "Windows_NT");
  ScopedEnv temp("BRAKVEL9X_ENV_TEMP", "");
  ScopedEnv extra("BRAKVEL9X_ENV_CLIPPER", "F40");
  auto block = m.environment();
  auto has = [&](const std::string& k, const std::string& v) {
    return std::find(block.begin(), block.end(), std::make_pair(k, v)) != block.end();
  };
  EXPECT_TRUE(has("WinDir", "C:\\WINDOWS"));
  EXPECT_TRUE(has("OS", "Windows_NT"));
  EXPECT_TRUE(has("CLIPPER", "F40"));
  for (auto& [k, v] : block) EXPECT_NE(k, "TEMP");
  EXPECT_EQ(block.front().first, "WinDir");  // machine.ini order first
}

// --- paths ----------------------------------------------------------------------

class MachinePaths : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"Program Files/Brakvel 9x/Exchange", "Program Files/Brakvel 9x/util",
                          "WINDOWS/COMMAND", "My Documents"}) {
      fs::create_directories(tm.c() / d);
    }
    std::ofstream(tm.c() / "Program Files/Brakvel 9x/util/pux.exe") << "x";
  }
  TempMachine tm;
};

TEST_F(MachinePaths, ShortPathOfTheExchangeFolderNeverChanges) {
  if (!testsupport::keepsExtendedAttributes(tm.c())) GTEST_SKIP() << testsupport::kNoExtendedAttributes;
  Machine m = tm.open();
  const std::string exchange = "C:\\Program Files\\Brakvel 9x\\Exchange";
  EXPECT_EQ(m.shortPath(exchange), "C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE");
  makeFolder(m, "C:\\Program Data");
  EXPECT_EQ(m.shortPath(exchange), "C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE");
  EXPECT_EQ(m.shortPath("C:\\Program Data"), "C:\\PROGRA~2");
  // A second process (a new Machine) sees the same names.
  EXPECT_EQ(tm.open().shortPath(exchange), "C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE");
}

TEST_F(MachinePaths, ResolvesAnyMixOfLongShortAndCase) {
  Machine m = tm.open();
  m.shortPath("C:\\Program Files\\Brakvel 9x");  // names the folders
  const fs::path exchange = tm.c() / "Program Files/Brakvel 9x/Exchange";
  struct Case {
    const char* win;
    fs::path host;
  } cases[] = {
      {"C:\\Program Files\\Brakvel 9x\\Exchange", exchange},
      {"c:\\progra~1\\brakve~1\\exchange", exchange},
      {"C:\\PROGRAM FILES\\brakve~1\\EXCHANGE", exchange},
      {"C:/Progra~1/Brakvel 9X/exchange/", exchange},
      {"C:\\Program Files\\..\\Program Files\\.\\Brakvel 9x\\Exchange", exchange},
      {"C:\\..\\..\\Program Files\\Brakvel 9x\\Exchange", exchange},
      {"C:\\PROGRA~1\\BRAKVE~1\\UTIL\\PUX.EXE", tm.c() / "Program Files/Brakvel 9x/util/pux.exe"},
      {"C:\\progra~1\\BRAKVE~1\\Exchange\\New Info.TXT", exchange / "New Info.TXT"},
      {"C:\\PROGRA~1\\New Folder\\a.txt", tm.c() / "Program Files/New Folder/a.txt"},
      {"C:\\PROGRA~9\\x", tm.c() / "PROGRA~9/x"},
      {"C:", tm.c()},
      {"c:\\", tm.c()},
      {"C:\\windows\\command", tm.c() / "WINDOWS/COMMAND"},
      {"C:\\Program Files.\\Brakvel 9x \\Exchange", exchange},
      {"C:\\G\xFCnter", tm.c() / "G\xC3\xBCnter"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(m.toHost(c.win), c.host) << c.win;
  }
}

TEST_F(MachinePaths, RefusesWhatIsNoDrivePath) {
  TempMachine noFloppy({.floppy = testsupport::Floppy::None});
  Machine m = noFloppy.open();
  struct Case {
    const char* win;
    int error;
  } cases[] = {
      {"D:\\x", kPathNotFound},
      {"A:\\x", kDiskNotReady},
      {"a:", kDiskNotReady},
      {"\\WINDOWS", kBadFileNameSyntax},
      {"WINDOWS\\x", kBadFileNameSyntax},
      {"", kBadFileNameSyntax},
      {"1:\\x", kBadFileNameSyntax},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(errorOf([&] { m.toHost(c.win); }), c.error) << c.win;
    EXPECT_EQ(m.shortPath(c.win), "") << c.win;
  }
}

TEST_F(MachinePaths, ToWindowsGivesLongNames) {
  Machine m = tm.open();
  EXPECT_EQ(m.toWindows(tm.c() / "Program Files/Brakvel 9x/util"), "C:\\Program Files\\Brakvel 9x\\util");
  EXPECT_EQ(m.toWindows(tm.c()), "C:\\");
  EXPECT_EQ(m.toWindows(tm.c() / "G\xC3\xBCnter"), "C:\\G\xFCnter");
  EXPECT_EQ(m.toWindows(tm.dir() / "drive_a" / "AUTOEXEC.BAT"), "A:\\AUTOEXEC.BAT");
  EXPECT_FALSE(m.toWindows(tm.dir()));
  EXPECT_FALSE(m.toWindows("/etc/passwd"));
}

TEST_F(MachinePaths, LongAndShortFormsOfExistingPaths) {
  Machine m = tm.open();
  EXPECT_EQ(m.longPath("c:\\progra~1\\BRAKVEL 9X\\UTIL\\pux.EXE"), "C:\\Program Files\\Brakvel 9x\\util\\pux.exe");
  EXPECT_EQ(m.shortPath("c:\\program files\\brakvel 9x\\util\\pux.exe"), "C:\\PROGRA~1\\BRAKVE~1\\UTIL\\PUX.EXE");
  EXPECT_EQ(m.shortPath("C:\\My Documents\\"), "C:\\MYDOCU~1\\");
  EXPECT_EQ(m.shortPath("C:\\"), "C:\\");
  EXPECT_EQ(m.shortPath("C:\\Program Files\\Brakvel 9x\\missing.txt"), "");
  EXPECT_EQ(m.longPath("C:\\Program Files\\missing\\x"), "");
}

TEST(WinPathHelpers, JoinBaseDirAnd83) {
  EXPECT_EQ(winJoin("C:\\WINDOWS", "System.ini"), "C:\\WINDOWS\\System.ini");
  EXPECT_EQ(winJoin("C:\\WINDOWS\\", "\\System.ini"), "C:\\WINDOWS\\System.ini");
  EXPECT_EQ(winJoin("C:\\WINDOWS", "\\System.ini"), "C:\\WINDOWS\\System.ini");
  EXPECT_EQ(winBaseName("C:\\PROGRA~1\\util\\pux.exe"), "pux.exe");
  EXPECT_EQ(winBaseName("A:AUTOEXEC.BAT"), "AUTOEXEC.BAT");
  EXPECT_EQ(winBaseName("C:/x/y"), "y");
  EXPECT_EQ(winDirName("C:\\WINDOWS\\System.ini"), "C:\\WINDOWS");
  struct Case {
    const char* name;
    bool valid;
  } cases[] = {{"EXCHANGE", true}, {"readme.txt", true}, {"A", true}, {"PROGRA~1", true},
               {"x.abc", true}, {"M\xFCller.txt", true}, {"$A&B!.{}", true},
               {"Program Files", false}, {"EXCHANGES1", false}, {"a.html", false},
               {"a.b.c", false}, {".hidden", false}, {"a.", false}, {"", false},
               {".", false}, {"..", false}, {"a+b", false}, {"a b", false}, {"a[1]", false}};
  for (const auto& c : cases) EXPECT_EQ(isValid83(c.name), c.valid) << c.name;
}
