// Where the program runs from: its executable inside the machine, the
// launcher's BRAKVEL9X_PROGRAM, or the default.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "TestMachine.h"
#include "app/frmGlavni.h"
#include "platform/registry/registry.h"
#include "ui/common/ProgramLocation.h"

namespace fs = std::filesystem;

namespace {

class Location : public testing::Test {
 protected:
  void SetUp() override { unsetenv("BRAKVEL9X_PROGRAM"); }
  void TearDown() override { unsetenv("BRAKVEL9X_PROGRAM"); }
  testsupport::TestMachine tm{apptest::programMachine()};
  const fs::path dir = tm.dir();
  platform::Machine* machine = &tm.machine();
};

TEST_F(Location, TheExecutableInsideTheMachineNamesTheProgramFolder) {
  fs::path exe = dir / "drive_d" / "Brakvel 9x" / "Tools" / "Other.exe";
  fs::create_directories(exe.parent_path());
  setenv("BRAKVEL9X_PROGRAM", "C:\\Elsewhere\\X.exe", 1);
  auto loc = frontend::locateProgram(*machine, exe.c_str());
  EXPECT_EQ(loc.exePath, "D:\\Brakvel 9x\\Tools\\Other.exe");
  EXPECT_EQ(loc.folder, "D:\\Brakvel 9x\\Tools");
  EXPECT_EQ(loc.exeName, "Other");
}

TEST_F(Location, OutsideTheMachineTheLaunchersPathOrTheDefaultCounts) {
  auto loc = frontend::locateProgram(*machine, "/usr/bin/brakvel9x");
  EXPECT_EQ(loc.folder, "C:\\Program Files\\Brakvel 9x");
  EXPECT_EQ(loc.exeName, "Brakvel 9x");
  setenv("BRAKVEL9X_PROGRAM", "C:\\PROGRA~1\\Other\\My Tool.v2.exe", 1);
  loc = frontend::locateProgram(*machine, "/usr/bin/brakvel9x");
  EXPECT_EQ(loc.folder, "C:\\PROGRA~1\\Other");
  EXPECT_EQ(loc.exeName, "My Tool.v2");
}

}  // namespace

namespace {

std::string defaultValue(platform::reg::Registry& r, const std::string& key) {
  platform::reg::HKEY h = 0;
  if (r.RegOpenKeyEx(platform::reg::HKEY_CLASSES_ROOT, key, 0x2003F, &h) != platform::reg::ERROR_SUCCESS) return {};
  char data[512] = {};
  uint32_t type = 0, size = sizeof data;
  r.RegQueryValueEx(h, "", &type, data, &size);
  r.RegCloseKey(h);
  return std::string(data);
}

}  // namespace

// The program folder as the program finds it: at a drive root it is "C:\",
// so the icon path has two backslashes and the command one, as registered
// at the first start; the program's other paths work there too.
TEST_F(Location, AProgramAtADriveRoot) {
  struct Case {
    std::string exe;  // the executable inside the machine
    std::string folder, command, icon;
  };
  const Case cases[] = {
      {"Brakvel 9x.exe", "C:\\", "C:\\Brakvel 9x.exe %1", "C:\\\\sysarchive.ico"},
      {"Tools/Brakvel 9x.exe", "C:\\Tools", "C:\\Tools\\Brakvel 9x.exe %1", "C:\\Tools\\sysarchive.ico"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exe);
    const fs::path exe = dir / "drive_c" / c.exe;
    fs::create_directories(exe.parent_path());
    const auto loc = frontend::locateProgram(*machine, exe.c_str());
    EXPECT_EQ(loc.folder, c.folder);

    apptest::TestProgram p(apptest::programMachine(), loc.folder);
    fs::create_directories(p.machine->toHost(loc.folder + "\\archive"));
    std::ofstream(p.machine->toHost(loc.folder + "\\archive\\Monday.kvt")) << "MSCF";
    p.setSetting("Show Intro", "0");
    p.setSetting("Show Tips at Startup", "0");
    p.program->start();
    ASSERT_FALSE(p.program->ended());
    EXPECT_EQ(defaultValue(*p.registry, "Brakvel\\shell\\open\\command"), c.command);
    EXPECT_EQ(defaultValue(*p.registry, "Brakvel\\DefaultIcon"), c.icon);
    auto& main = p.program->form<app::frmGlavni>();
    ASSERT_EQ(main.lvwRestore->rows().size(), 1u);
  }
}
