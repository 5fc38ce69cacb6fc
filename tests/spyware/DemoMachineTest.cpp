// Block and unblock on a machine made by brakvel9x-machine init, driven by
// brakvel9x-script as a person would click: the registry afterwards holds
// every key of the block script, and after the unblock exactly what it held
// before.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/machine.h"
#include "platform/registry/registry.h"
#include "platform/text.h"
#include "tests/support/process.h"
#include "tests/support/registry_dump.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_machine.h"

namespace fs = std::filesystem;
using namespace platform::reg;

namespace {

using testsupport::Ran;
using Dump = testsupport::RegistryMap;

Dump dumpRegistry(const fs::path& dir) { return testsupport::registryMap(platform::Machine::open(dir)); }

class DemoMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto m = platform::Machine::open(dir_);
    // Keys every Windows 98 machine with Internet Explorer has; the block
    // adds below them, the unblock removes only what it added.
    Registry r(m);
    for (auto [root, key] :
         {std::pair{HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer\\ActiveX Compatibility"},
          std::pair{HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains"}}) {
      HKEY h = 0;
      ASSERT_EQ(r.RegCreateKey(root, key, &h), ERROR_SUCCESS);
      r.RegCloseKey(h);
    }
  }
  Ran script(const std::string& actions) {
    const fs::path file = work_ / "actions.txt";
    std::ofstream(file) << actions;
    return testsupport::run({BRAKVEL9X_SCRIPT, file.string()}, std::chrono::seconds(300),
                            {.machine = dir_, .mergeOutput = true});
  }
  testsupport::TempDir work_{"brakvel-spy-demo"};
  // Straight to the main window.
  testsupport::TestMachine tm_{{.layout = testsupport::Layout::Installed, .quietStart = true}};
  const fs::path dir_ = tm_.dir();
};

}  // namespace

TEST_F(DemoMachine, BlockThenUnblockLeavesTheRegistryAsItWas) {
  // The first start registers the archive type and the preferences.
  Ran r = script("close\n");
  ASSERT_EQ(r.status, 0) << r.out;
  const Dump before = dumpRegistry(dir_);

  r = script("click tlbCmdSpy\nclick cmdBlockSpy\nclose\n");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("message: Brakvel 9x | information | Spyware programs successfully disabled ."),
            std::string::npos)
      << r.out;
  const Dump blocked = dumpRegistry(dir_);
  std::ifstream antispy(BRAKVEL9X_DEFINITIONS "/antispy.reg", std::ios::binary);
  int keys = 0;
  for (std::string line; std::getline(antispy, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() < 3 || line.front() != '[') continue;
    std::string key = line.substr(1, line.size() - 2);
    const auto slash = key.find('\\');
    const std::string root = key.substr(0, slash) == "HKEY_LOCAL_MACHINE" ? "HKLM" : "HKCU";
    EXPECT_EQ(blocked.count(root + "\\" + platform::upperAnsi(key.substr(slash + 1))), 1u) << key;
    ++keys;
  }
  EXPECT_GT(keys, 20);

  r = script("click tlbCmdUndo\nclick cmdUndoSpy\nclose\n");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("message: Brakvel 9x | information | Spyware protection successfully discarded ."),
            std::string::npos)
      << r.out;
  const Dump after = dumpRegistry(dir_);
  std::string differences;
  for (const auto& [key, values] : after) {
    auto it = before.find(key);
    if (it == before.end()) differences += "added " + key + "\n";
    else if (it->second != values) differences += "changed " + key + "\n";
  }
  for (const auto& [key, values] : before) {
    if (!after.count(key)) differences += "removed " + key + "\n";
  }
  EXPECT_EQ(differences, "") << "the unblock must leave exactly the registry of before";

  const auto m = platform::Machine::open(dir_);
  for (const char* plain : {"antispy.reg", "undospy.reg", "spylist.dec"}) {
    EXPECT_FALSE(fs::exists(m.toHost(std::string("C:\\Program Files\\Brakvel 9x\\util\\") + plain))) << plain;
  }
}
