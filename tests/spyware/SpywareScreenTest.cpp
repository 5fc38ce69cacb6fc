// The Spyware screen end to end: the real program headless, the real
// registry editor, a real HTTP server on 127.0.0.1.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "LocalHttpServer.h"
#include "app/frmGlavni.h"
#include "platform/files.h"
#include "platform/registry/registry.h"
#include "platform/text.h"
#include "spyware/FileConverter.h"
#include "TestMachine.h"

namespace fs = std::filesystem;
using namespace platform::reg;

namespace {

const std::string kUtil = "C:\\Program Files\\Brakvel 9x\\util";

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::string> crlfLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// Every key of a hive with its values, for before/after comparisons.
using Dump = std::map<std::string, std::map<std::string, std::pair<uint32_t, std::string>>>;

void dumpKey(Registry& r, HKEY root, const std::string& path, Dump* out) {
  HKEY h = 0;
  if (r.RegOpenKeyEx(root, path, 0x2003F, &h) != ERROR_SUCCESS) return;
  auto& values = (*out)[platform::upperAnsi(path)];
  std::string name, data;
  uint32_t type = 0;
  for (uint32_t i = 0; r.RegEnumValue(h, i, &name, &type, &data) == ERROR_SUCCESS; ++i) {
    values[name] = {type, data};
  }
  std::vector<std::string> subs;
  for (uint32_t i = 0; r.RegEnumKeyEx(h, i, &name, 1024) == ERROR_SUCCESS; ++i) subs.push_back(name);
  r.RegCloseKey(h);
  for (const auto& s : subs) dumpKey(r, root, path.empty() ? s : path + "\\" + s, out);
}

Dump dumpAll(Registry& r) {
  Dump d;
  dumpKey(r, HKEY_LOCAL_MACHINE, "", &d);
  Dump user;
  dumpKey(r, HKEY_CURRENT_USER, "", &user);
  for (auto& [k, v] : user) d["HKCU\\" + k] = v;
  return d;
}

// The keys a script adds ("[KEY]") or removes ("[-KEY]"), root and path.
std::vector<std::pair<HKEY, std::string>> scriptKeys(const std::string& script, bool removed) {
  std::vector<std::pair<HKEY, std::string>> keys;
  for (const auto& line : crlfLines(script)) {
    if (line.size() < 3 || line.front() != '[' || line.back() != ']') continue;
    if ((line[1] == '-') != removed) continue;
    std::string key = line.substr(removed ? 2 : 1, line.size() - (removed ? 3 : 2));
    const auto slash = key.find('\\');
    const std::string root = key.substr(0, slash);
    keys.push_back({root == "HKEY_LOCAL_MACHINE" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER,
                    key.substr(slash + 1)});
  }
  return keys;
}

bool keyExists(Registry& r, HKEY root, const std::string& path) {
  HKEY h = 0;
  if (r.RegOpenKeyEx(root, path, 0x2003F, &h) != ERROR_SUCCESS) return false;
  r.RegCloseKey(h);
  return true;
}

class SpywareScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    t.setSetting("Show Intro", "0");
    t.setSetting("Show Tips at Startup", "0");
    for (const char* name : {"spylist.enc", "antispy.enc", "undospy.enc"}) {
      fs::copy_file(fs::path(BRAKVEL9X_UTIL_DIR) / name, util() / name);
    }
    fs::create_symlink(BRAKVEL9X_REGEDIT, t.machine->toHost("C:\\WINDOWS\\REGEDIT.EXE"));
    // Keys a Windows 98 machine with Internet Explorer has already.
    for (auto [root, key] : {std::pair{HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Internet Explorer\\ActiveX Compatibility"},
                             std::pair{HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains"}}) {
      HKEY h = 0;
      ASSERT_EQ(t.registry->RegCreateKey(root, key, &h), ERROR_SUCCESS);
      t.registry->RegCloseKey(h);
    }
  }

  void start() {
    t.program->start();
    main = &t.program->form<app::frmGlavni>();
    t.newLines();
  }
  fs::path util() const { return t.machine->toHost(kUtil); }
  std::vector<std::string> utilFiles() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(util())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  void setInternet(const std::string& key, const std::string& value) {
    auto m = platform::Machine::open(t.dir);
    m.setIni("Internet", key, value);
  }

  apptest::TestProgram t;
  app::frmGlavni* main = nullptr;
};

const std::string kAntispy = slurp(BRAKVEL9X_DEFINITIONS "/antispy.reg");
const std::string kUndospy = slurp(BRAKVEL9X_DEFINITIONS "/undospy.reg");
const std::string kSpylist = slurp(BRAKVEL9X_DEFINITIONS "/spylist");

}  // namespace

TEST_F(SpywareScreen, StartUpFillsTheListAndLeavesNoPlainForm) {
  start();
  std::string expected;
  for (const auto& line : crlfLines(kSpylist)) expected += "\r\n" + line;
  EXPECT_EQ(main->txtSpyList->text(), expected);
  EXPECT_EQ(utilFiles(), (std::vector<std::string>{"antispy.enc", "spylist.enc", "undospy.enc"}));
}

TEST_F(SpywareScreen, ListOfTwoLinesStartsWithAnEmptyLine) {
  std::ofstream(util() / "spylist.enc", std::ios::binary) << spyware::ConvertString("A\r\nB\r\n");
  start();
  EXPECT_EQ(main->txtSpyList->text(), "\r\nA\r\nB");
}

TEST_F(SpywareScreen, MissingOrEmptyListDoesNotStopTheStart) {
  for (bool empty : {false, true}) {
    SCOPED_TRACE(empty ? "empty" : "missing");
    apptest::TestProgram p;
    p.setSetting("Show Intro", "0");
    p.setSetting("Show Tips at Startup", "0");
    const fs::path list = p.machine->toHost(kUtil + "\\spylist.enc");
    if (empty) std::ofstream(list, std::ios::binary).flush();
    p.program->start();
    auto& form = p.program->form<app::frmGlavni>();
    EXPECT_EQ(form.txtSpyList->text(), "\r\nThe spyware list file " + kUtil + "\\spylist.enc is missing or empty .");
    EXPECT_TRUE(p.linesStartingWith("message:").empty());
    EXPECT_FALSE(p.program->ended());
    EXPECT_FALSE(fs::exists(p.machine->toHost(kUtil + "\\spylist.dec")));
  }
}

TEST_F(SpywareScreen, BlockImportsEveryKeyAndUnblockRemovesThemAll) {
  start();
  const Dump before = dumpAll(*t.registry);

  main->cmdBlockSpy->userClick();
  auto lines = t.newLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "start: hidden regedit.exe /s C:\\PROGRA~1\\BRAKVE~1\\UTIL\\ANTISPY.REG");
  std::vector<std::string> expected = {lines.front()};
  for (const auto& line : crlfLines(kAntispy)) expected.push_back("status: Disabling entry " + line);
  expected.push_back("status: ");
  expected.push_back("message: Brakvel 9x | information | Spyware programs successfully disabled .");
  EXPECT_EQ(lines, expected);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "status: Disabling entry "), lines.end())
      << "an empty script line still shows the prefix";
  for (const auto& [root, key] : scriptKeys(kAntispy, false)) {
    EXPECT_TRUE(keyExists(*t.registry, root, key)) << key;
  }
  HKEY h = 0;
  ASSERT_EQ(t.registry->RegOpenKeyEx(HKEY_CURRENT_USER,
                                     "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\gator.com",
                                     0x2003F, &h),
            ERROR_SUCCESS);
  uint32_t type = 0, size = 4;
  char data[4] = {};
  EXPECT_EQ(t.registry->RegQueryValueEx(h, "*", &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(std::string(data, 4), std::string("\x04\0\0\0", 4));
  t.registry->RegCloseKey(h);
  EXPECT_EQ(utilFiles(), (std::vector<std::string>{"antispy.enc", "spylist.enc", "undospy.enc"}));

  main->cmdUndoSpy->userClick();
  lines = t.newLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "start: hidden regedit.exe /s C:\\PROGRA~1\\BRAKVE~1\\UTIL\\UNDOSPY.REG");
  EXPECT_EQ(lines[1], "status: Removing entry REGEDIT4");
  EXPECT_EQ(lines.back(), "message: Brakvel 9x | information | Spyware protection successfully discarded .");
  for (const auto& [root, key] : scriptKeys(kAntispy, false)) {
    EXPECT_FALSE(keyExists(*t.registry, root, key)) << key;
  }
  EXPECT_EQ(dumpAll(*t.registry), before);
  EXPECT_EQ(utilFiles(), (std::vector<std::string>{"antispy.enc", "spylist.enc", "undospy.enc"}));
}

TEST_F(SpywareScreen, UndoScriptRemovesExactlyWhatTheBlockAdds) {
  auto added = scriptKeys(kAntispy, false);
  auto removed = scriptKeys(kUndospy, true);
  std::sort(added.begin(), added.end());
  std::sort(removed.begin(), removed.end());
  EXPECT_EQ(added, removed);
  EXPECT_TRUE(scriptKeys(kUndospy, false).empty());
}

TEST_F(SpywareScreen, FailedImportIsReportedWithTheEditorsMessage) {
  std::ofstream(util() / "antispy.enc", std::ios::binary)
      << spyware::ConvertString("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Spy]\r\n\"x\"=dword:12\r\n");
  start();
  const Dump before = dumpAll(*t.registry);
  main->cmdBlockSpy->userClick();
  const auto messages = t.linesStartingWith("message:");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("message: Brakvel 9x | critical | The registry editor could not import " + kUtil +
                                  "\\antispy.reg (exit status ",
                              0),
            0u)
      << messages[0];
  EXPECT_NE(messages[0].find(":4:"), std::string::npos) << "the editor names the bad line: " << messages[0];
  EXPECT_EQ(dumpAll(*t.registry), before);
  EXPECT_EQ(utilFiles(), (std::vector<std::string>{"antispy.enc", "spylist.enc", "undospy.enc"}));
}

TEST_F(SpywareScreen, EditorThatCannotStartIsReportedAndNoSuccessFollows) {
  fs::remove(t.machine->toHost("C:\\WINDOWS\\REGEDIT.EXE"));
  start();
  main->cmdUndoSpy->userClick();
  const auto messages = t.linesStartingWith("message:");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("message: Error: | critical | Error # 53 File not found\\r\\nWith: "
                              "C:\\PROGRA~1\\BRAKVE~1\\UTIL\\UNDOSPY.REG",
                              0),
            0u)
      << messages[0];
  EXPECT_EQ(utilFiles(), (std::vector<std::string>{"antispy.enc", "spylist.enc", "undospy.enc"}));
}

TEST_F(SpywareScreen, MissingDefinitionFileImportsNothing) {
  fs::remove(util() / "antispy.enc");
  std::ofstream(util() / "undospy.enc", std::ios::trunc).flush();
  start();
  main->cmdBlockSpy->userClick();
  main->cmdUndoSpy->userClick();
  EXPECT_TRUE(t.linesStartingWith("start:").empty());
  EXPECT_EQ(t.linesStartingWith("message:"),
            (std::vector<std::string>{
                "message: Brakvel 9x | exclamation | The spyware definition file " + kUtil +
                    "\\antispy.enc is missing or empty .\\r\\nNothing was imported into the registry .",
                "message: Brakvel 9x | exclamation | The spyware definition file " + kUtil +
                    "\\undospy.enc is missing or empty .\\r\\nNothing was imported into the registry ."}));
}

TEST_F(SpywareScreen, UpdateReplacesTheThreeFilesInOrderAndKeepsTheList) {
  LocalHttpServer server;
  const std::vector<std::string> bodies = {"new antispy", "\x9E\x9D\x9C", "u"};
  server.set("/spydef/antispy.enc", {200, bodies[0], false});
  server.set("/spydef/spylist.enc", {200, bodies[1], false});
  server.set("/spydef/undospy.enc", {200, bodies[2], false});
  setInternet("UpdateServer", server.baseUrl());
  setInternet("Connection", "lan");
  start();
  const std::string list = main->txtSpyList->text();
  main->cmdInternetUpdate->userClick();
  EXPECT_EQ(t.newLines(), (std::vector<std::string>{
                              "status: Retrieving spyware definition database ,please wait...",
                              "status: ",
                              "message: Brakvel 9x | none | Spyware definition database successfuly updated ."}));
  EXPECT_TRUE(slurp(util() / "antispy.enc") == bodies[0]);
  EXPECT_TRUE(slurp(util() / "spylist.enc") == bodies[1]);
  EXPECT_TRUE(slurp(util() / "undospy.enc") == bodies[2]);
  EXPECT_EQ(server.requests(),
            (std::vector<std::string>{"/spydef/antispy.enc", "/spydef/spylist.enc", "/spydef/undospy.enc"}));
  EXPECT_EQ(main->txtSpyList->text(), list);
}

TEST_F(SpywareScreen, FailedUpdateKeepsTheOldFilesAndSaysWhy) {
  LocalHttpServer server;
  server.set("/spydef/antispy.enc", {200, "new", false});
  server.set("/spydef/spylist.enc", {500, "<html>broken</html>", false});
  setInternet("UpdateServer", server.baseUrl());
  setInternet("Connection", "lan");
  const std::string old = slurp(util() / "antispy.enc");
  start();
  main->cmdInternetUpdate->userClick();
  const auto messages = t.linesStartingWith("message:");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "message: Brakvel 9x | exclamation | The spyware definition database was not updated "
                         ".\\r\\nDownload of " +
                             server.baseUrl() +
                             "/spydef/spylist.enc failed: the server answered 500 Internal Server Error "
                             ".\\r\\nYour current definitions are kept .");
  EXPECT_TRUE(slurp(util() / "antispy.enc") == old);
}

TEST_F(SpywareScreen, NotConnectedTouchesNothing) {
  LocalHttpServer server;
  setInternet("UpdateServer", server.baseUrl());
  setInternet("Connection", "none");
  const std::string old = slurp(util() / "spylist.enc");
  start();
  main->SBar->setText("Done .");
  t.newLines();
  main->cmdInternetUpdate->userClick();
  EXPECT_EQ(t.newLines(), (std::vector<std::string>{
                              "message: No internet connection | information | Please ,connect to internet to proceed ."}));
  EXPECT_EQ(main->SBar->text(), "Done .");
  EXPECT_TRUE(server.requests().empty());
  EXPECT_TRUE(slurp(util() / "spylist.enc") == old);
}
