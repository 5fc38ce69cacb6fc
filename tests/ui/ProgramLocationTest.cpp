// Where the program runs from: its executable inside the machine, the
// launcher's BRAKVEL9X_PROGRAM, or the default.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "TestMachine.h"
#include "ui/common/ProgramLocation.h"

namespace fs = std::filesystem;

namespace {

class Location : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir = fs::temp_directory_path() / ("brakvel-location-" + std::to_string(rd()) + std::to_string(rd()));
    apptest::makeMachine(dir);
    machine.emplace(platform::Machine::open(dir));
    unsetenv("BRAKVEL9X_PROGRAM");
  }
  void TearDown() override {
    unsetenv("BRAKVEL9X_PROGRAM");
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir;
  std::optional<platform::Machine> machine;
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
