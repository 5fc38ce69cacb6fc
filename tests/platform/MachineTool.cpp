#include <gtest/gtest.h>

#include <fstream>

#include "MachineToolSupport.h"
#include "tests/support/environment.h"
#include "tests/support/host_attributes.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/registry/hive_store.h"
#include "platform/registry/script_text.h"

using namespace platform;

using namespace machine_tool_test;

TEST_F(MachineTool, InitMakesAWindows98Machine) {
  Result r = run("init " + quote(dir.string()));
  ASSERT_EQ(r.status, 0) << r.output;
  Machine m = Machine::open(dir);
  EXPECT_EQ(m.ini("Machine", "Version"), "98");
  EXPECT_EQ(m.drives(), (std::vector<char>{'A', 'C'}));
  // The floppy is a formatted 1.44 MB image holding nothing.
  EXPECT_EQ(m.driveImage('A'), dir / "floppy.img");
  EXPECT_EQ(fs::file_size(dir / "floppy.img"), 1474560u);
  EXPECT_EQ(DirEnum().first(m, "A:\\", kDirectory | kHidden | kSystem), "");
  EXPECT_EQ(freeSpace(m, 'A'), 1457664u);
  EXPECT_FALSE(m.ini("Floppy", "Capacity"));
  {
    testsupport::ScopedEnv os("OS", nullptr);
    EXPECT_FALSE(m.env("OS"));
  }
  EXPECT_EQ(m.env("WinDir"), "C:\\WINDOWS");
  EXPECT_EQ(m.env("ComSpec"), "C:\\WINDOWS\\COMMAND.COM");
  for (const char* folder : {"C:\\WINDOWS\\Sysbckup", "C:\\WINDOWS\\COMMAND", "C:\\WINDOWS\\TEMP",
                             "C:\\Program Files\\Brakvel 9x\\archive", "C:\\Program Files\\Brakvel 9x\\Exchange",
                             "C:\\Program Files\\Brakvel 9x\\undo", "C:\\Program Files\\Brakvel 9x\\Rescue",
                             "C:\\Program Files\\Brakvel 9x\\util"}) {
    EXPECT_TRUE(folderExists(m, folder)) << folder;
  }
  for (const char* hive : {"C:\\WINDOWS\\System.dat", "C:\\WINDOWS\\User.dat"}) {
    EXPECT_EQ(getAttributes(m, hive), testsupport::attributesKept(m, 'C', kReadOnly | kHidden | kSystem)) << hive;
    EXPECT_TRUE(readFile(m, hive).starts_with("CREG")) << hive;
    // As the program's FileExists sees them: only with the attribute mask.
    if (testsupport::attributesKept(m, 'C', kHidden) & kHidden) {
      EXPECT_EQ(DirEnum().first(m, hive), "");
    }
    EXPECT_NE(DirEnum().first(m, hive, kReadOnly | kHidden | kSystem), "");
  }
  EXPECT_FALSE(pathExists(m, "C:\\WINDOWS\\Classes.dat"));
  EXPECT_FALSE(pathExists(m, "C:\\_restore"));
  for (const char* ini : {"C:\\WINDOWS\\System.ini", "C:\\WINDOWS\\Win.ini"}) {
    std::string text = readFile(m, ini);
    EXPECT_GT(text.size(), 200u) << ini;
    EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1) << ini;
    EXPECT_EQ(text.find("\n\n"), std::string::npos) << ini;
  }
  EXPECT_NE(readFile(m, "C:\\WINDOWS\\System.ini").find("[boot]\r\n"), std::string::npos);
  EXPECT_NE(readFile(m, "C:\\WINDOWS\\Win.ini").find("[windows]\r\n"), std::string::npos);
  // Windows' own registry backups (their content is tested with the cabinets).
  DirEnum backups;
  EXPECT_EQ(backups.first(m, "C:\\WINDOWS\\Sysbckup\\*.*"), "rb000.cab");
  EXPECT_EQ(backups.next(), "rb001.cab");
  EXPECT_EQ(backups.next(), "rb002.cab");
  EXPECT_EQ(backups.next(), "");

  // A second init would overwrite a machine: refused.
  Result again = run("init " + quote(dir.string()));
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.output.find("already holds a machine"), std::string::npos) << again.output;
}

TEST_F(MachineTool, InitMeAddsClassesDatAndRestore) {
  ASSERT_EQ(run("init --me " + quote(dir.string())).status, 0);
  Machine m = Machine::open(dir);
  EXPECT_EQ(m.ini("Machine", "Version"), "ME");
  EXPECT_EQ(getAttributes(m, "C:\\WINDOWS\\Classes.dat"), testsupport::attributesKept(m, 'C', kReadOnly | kHidden | kSystem));
  EXPECT_TRUE(folderExists(m, "C:\\_restore"));
}

// A machine made while the hives were REGEDIT4 text: install makes them
// registry files, keys, values and attributes kept.
TEST_F(MachineTool, InstallConvertsTextHives) {
  ASSERT_EQ(run("init --me " + quote(dir.string())).status, 0);
  Machine m = Machine::open(dir);
  std::vector<std::string> texts;
  for (const char* hive : {"System.dat", "User.dat", "Classes.dat"}) {
    const std::string path = std::string("C:\\WINDOWS\\") + hive;
    const auto id = static_cast<platform::hive::HiveId>(texts.size());
    texts.push_back(platform::hive::hiveText(platform::hive::parseHiveFile(readFile(m, path), id, path).top()));
    setAttributes(m, path, kHidden | kSystem);
    writeFile(m, path, texts.back());
    setAttributes(m, path, kReadOnly | kHidden | kSystem);
  }
  Result r = run("install " + quote(dir.string()));
  ASSERT_EQ(r.status, 0) << r.output;
  size_t i = 0;
  for (const char* hive : {"System.dat", "User.dat", "Classes.dat"}) {
    const std::string path = std::string("C:\\WINDOWS\\") + hive;
    EXPECT_NE(r.output.find("converted " + path + " from REGEDIT4 text to a registry file"), std::string::npos)
        << r.output;
    const std::string bytes = readFile(m, path);
    EXPECT_TRUE(bytes.starts_with("CREG")) << hive;
    const auto id = static_cast<platform::hive::HiveId>(i);
    EXPECT_EQ(platform::hive::hiveText(platform::hive::parseHiveFile(bytes, id, path).top()), texts[i]) << hive;
    EXPECT_EQ(getAttributes(m, path), testsupport::attributesKept(m, 'C', kReadOnly | kHidden | kSystem)) << hive;
    ++i;
  }
  // Once converted, nothing more to do.
  r = run("install " + quote(dir.string()));
  EXPECT_EQ(r.output.find("converted"), std::string::npos) << r.output;
}

TEST_F(MachineTool, ShortNamesStayWhenFoldersAreAddedLater) {
  ASSERT_EQ(run("init", env()).status, 0);  // DIR from BRAKVEL9X_MACHINE
  const std::string exchange = quote("C:\\Program Files\\Brakvel 9x\\Exchange");
  Result r = run("short " + exchange, env());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE\n");
  fs::create_directory(dir / "drive_c" / "Program Data");
  EXPECT_EQ(run("short " + exchange, env()).output, "C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE\n");
  EXPECT_EQ(run("short " + quote("c:\\program data"), env()).output, "C:\\PROGRA~2\n");
  EXPECT_EQ(run("--machine " + quote(dir.string()) + " short " + exchange).output,
            "C:\\PROGRA~1\\BRAKVE~1\\EXCHANGE\n");

  Result missing = run("short " + quote("C:\\Program Files\\nothing"), env());
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("C:\\Program Files\\nothing: no such file or folder"), std::string::npos);
}

TEST_F(MachineTool, ResolveTakesAnyMixOfForms) {
  ASSERT_EQ(run("init " + quote(dir.string())).status, 0);
  const std::string util = (dir / "drive_c" / "Program Files" / "Brakvel 9x" / "util").string();
  for (const char* win : {"C:\\Program Files\\Brakvel 9x\\util", "c:\\PROGRA~1\\brakve~1\\UTIL",
                          "C:\\program files\\BRAKVE~1\\Util\\", "C:/Progra~1/Brakvel 9X/util"}) {
    Result r = run("resolve " + quote(win), env());
    EXPECT_EQ(r.status, 0) << win;
    EXPECT_EQ(r.output, util + "\n") << win;
  }
  EXPECT_EQ(run("resolve " + quote("C:\\PROGRA~1\\BRAKVE~1\\util\\New File.txt"), env()).output,
            util + "/New File.txt\n");
  Result bad = run("resolve " + quote("Q:\\x"), env());
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.output.find("Path not found: Q:\\x"), std::string::npos) << bad.output;
}

TEST_F(MachineTool, ClearErrors) {
  Result noMachine = run("short C:\\\\", "BRAKVEL9X_MACHINE=" + quote((base / "none").string()));
  EXPECT_EQ(noMachine.status, 1);
  EXPECT_NE(noMachine.output.find("none does not exist"), std::string::npos) << noMachine.output;
  fs::create_directories(dir);
  std::ofstream(dir / "machine.ini") << "[Drives]\nC=drive_c\n";
  Result badIni = run("info", env());
  EXPECT_EQ(badIni.status, 1);
  EXPECT_NE(badIni.output.find("machine.ini:2: the folder of drive C:"), std::string::npos) << badIni.output;
  Result unknown = run("frobnicate");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.output.find("unknown command 'frobnicate'"), std::string::npos);
  EXPECT_EQ(run("short", env()).status, 2);
}

TEST_F(MachineTool, InstallLinksBuiltToolsAndCopiesData) {
  // A build folder of our own: the tool, a "pux", and data files.
  fs::path bin = base / "build" / "bin";
  fs::create_directories(bin);
  fs::copy_file(BRAKVEL9X_MACHINE_TOOL, bin / "brakvel9x-machine");
  std::ofstream(bin / "pux") << "#!/bin/sh\n";
  fs::permissions(bin / "pux", fs::perms::owner_all);
  fs::create_directories(base / "build/share/brakvel9x/program/util");
  fs::create_directories(base / "build/share/brakvel9x/windows");
  std::ofstream(base / "build/share/brakvel9x/program/util/ad.kvt") << "disk";
  std::ofstream(base / "build/share/brakvel9x/program/sysarchive.ico") << "icon";
  std::ofstream(base / "build/share/brakvel9x/windows/Tips.txt") << "tip";
  const std::string tool = (bin / "brakvel9x-machine").string();

  Result r = run("init " + quote(dir.string()), "", tool);
  ASSERT_EQ(r.status, 0) << r.output;
  fs::path pux = dir / "drive_c/Program Files/Brakvel 9x/util/pux.exe";
  EXPECT_TRUE(fs::is_symlink(pux));
  EXPECT_EQ(fs::read_symlink(pux), bin / "pux");
  EXPECT_FALSE(fs::exists(dir / "drive_c/Program Files/Brakvel 9x/util/Makecab.exe"));  // not built
  Machine m = Machine::open(dir);
  EXPECT_EQ(readFile(m, "C:\\PROGRA~1\\BRAKVE~1\\UTIL\\AD.KVT"), "disk");
  EXPECT_EQ(readFile(m, "C:\\Program Files\\Brakvel 9x\\sysarchive.ico"), "icon");
  EXPECT_EQ(readFile(m, "C:\\WINDOWS\\Tips.txt"), "tip");
  EXPECT_EQ(m.shortPath("C:\\Program Files\\Brakvel 9x\\util\\pux.exe"), "C:\\PROGRA~1\\BRAKVE~1\\UTIL\\PUX.EXE");

  // A rebuild brings new data; install refreshes it and keeps the links.
  std::ofstream(base / "build/share/brakvel9x/program/util/ad.kvt") << "disk 2";
  std::ofstream(bin / "makecab") << "#!/bin/sh\n";
  Result again = run("install " + quote(dir.string()), "", tool);
  ASSERT_EQ(again.status, 0) << again.output;
  EXPECT_EQ(readFile(m, "C:\\Program Files\\Brakvel 9x\\util\\ad.kvt"), "disk 2");
  EXPECT_EQ(fs::read_symlink(dir / "drive_c/Program Files/Brakvel 9x/util/Makecab.exe"), bin / "makecab");
  EXPECT_EQ(again.output.find("linked C:\\Program Files\\Brakvel 9x\\util\\pux.exe"), std::string::npos);
}
