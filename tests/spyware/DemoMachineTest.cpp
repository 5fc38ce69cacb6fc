// Block and unblock on a machine made by brakvel9x-machine init, driven by
// brakvel9x-script as a person would click: the registry afterwards holds
// every key of the block script, and after the unblock exactly what it held
// before.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform/machine.h"
#include "platform/registry/registry.h"
#include "platform/text.h"

namespace fs = std::filesystem;
using namespace platform::reg;

namespace {

struct Ran {
  int status = -1;
  std::string output;
};

Ran run(const std::string& command) {
  Ran r;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) r.output.append(buffer, n);
  const int status = ::pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

using Dump = std::map<std::string, std::map<std::string, std::pair<uint32_t, std::string>>>;

void dumpKey(Registry& r, HKEY root, const std::string& name, const std::string& path, Dump* out) {
  HKEY h = 0;
  if (r.RegOpenKeyEx(root, path, 0x2003F, &h) != ERROR_SUCCESS) return;
  auto& values = (*out)[name + "\\" + platform::upperAnsi(path)];
  std::string sub, data;
  uint32_t type = 0;
  for (uint32_t i = 0; r.RegEnumValue(h, i, &sub, &type, &data) == ERROR_SUCCESS; ++i) values[sub] = {type, data};
  std::vector<std::string> subs;
  for (uint32_t i = 0; r.RegEnumKeyEx(h, i, &sub, 1024) == ERROR_SUCCESS; ++i) subs.push_back(sub);
  r.RegCloseKey(h);
  for (const auto& s : subs) dumpKey(r, root, name, path.empty() ? s : path + "\\" + s, out);
}

Dump dumpRegistry(const fs::path& dir) {
  const auto m = platform::Machine::open(dir);
  Registry r(m);
  Dump d;
  dumpKey(r, HKEY_LOCAL_MACHINE, "HKLM", "", &d);
  dumpKey(r, HKEY_CURRENT_USER, "HKCU", "", &d);
  dumpKey(r, HKEY_USERS, "HKU", "", &d);
  return d;
}

class DemoMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "brakvel-spy-demo-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    const Ran init = run(std::string(BRAKVEL9X_MACHINE_TOOL) + " init '" + (dir_ / "m").string() + "'");
    ASSERT_EQ(init.status, 0) << init.output;
    dir_ /= "m";
    // Straight to the main window.
    const auto m = platform::Machine::open(dir_);
    platform::SaveSetting(m, "Brakvel 9x", "Options", "Show Intro", "0");
    platform::SaveSetting(m, "Brakvel 9x", "Options", "Show Tips at Startup", "0");
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
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_.parent_path(), ec);
  }
  Ran script(const std::string& actions) {
    const fs::path file = dir_.parent_path() / "actions.txt";
    std::ofstream(file) << actions;
    return run("BRAKVEL9X_MACHINE='" + dir_.string() + "' " + BRAKVEL9X_SCRIPT + " '" + file.string() + "'");
  }
  fs::path dir_;
};

}  // namespace

TEST_F(DemoMachine, BlockThenUnblockLeavesTheRegistryAsItWas) {
  // The first start registers the archive type and the preferences.
  Ran r = script("close\n");
  ASSERT_EQ(r.status, 0) << r.output;
  const Dump before = dumpRegistry(dir_);

  r = script("click tlbCmdSpy\nclick cmdBlockSpy\nclose\n");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("message: Brakvel 9x | information | Spyware programs successfully disabled ."),
            std::string::npos)
      << r.output;
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
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("message: Brakvel 9x | information | Spyware protection successfully discarded ."),
            std::string::npos)
      << r.output;
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
