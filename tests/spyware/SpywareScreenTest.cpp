// The Spyware screen end to end: the real program headless, the real
// registry editor, a real HTTP server on 127.0.0.1 and the host's HTTP
// client; only the connection state is the test's.
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
#include "platform/net/http.h"
#include "platform/net/internet.h"
#include "platform/registry/registry.h"
#include "platform/text.h"
#include "spyware/FileConverter.h"
#include "TestMachine.h"

namespace fs = std::filesystem;
using namespace platform::reg;
using namespace std::chrono_literals;

namespace {

const std::string kUtil = "C:\\Program Files\\Brakvel 9x\\util";
const std::string kActiveX = "Software\\Microsoft\\Internet Explorer\\ActiveX Compatibility";
const std::string kDomains = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains";
const std::vector<std::string> kDefinitions = {"antispy.enc", "spylist.enc", "undospy.enc"};

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

std::string dword(uint32_t n) { return std::string(reinterpret_cast<const char*>(&n), 4); }

// The connection state, as the test says.
struct TestInternet : platform::net::InternetProvider {
  bool connected = true;
  bool getConnectedState(uint32_t* flags, char* name, uint32_t nameSize) override {
    *flags = connected ? platform::net::INTERNET_CONNECTION_LAN : 0;
    if (nameSize > 0) name[0] = '\0';
    return connected;
  }
  bool setOption(uint32_t, const platform::net::ConnectedStateInfo&) override { return false; }
};

const std::string kAntispy = slurp(BRAKVEL9X_DEFINITIONS "/antispy.reg");
const std::string kSpylist = slurp(BRAKVEL9X_DEFINITIONS "/spylist");

// A program on a machine with the shipped definitions and the registry
// editor; the machine has Internet Explorer's keys unless told otherwise.
class Station {
 public:
  explicit Station(bool internetExplorer = true) {
    t.setSetting("Show Intro", "0");
    t.setSetting("Show Tips at Startup", "0");
    for (const auto& name : kDefinitions) fs::copy_file(fs::path(BRAKVEL9X_UTIL_DIR) / name, util() / name);
    fs::create_symlink(BRAKVEL9X_REGEDIT, t.machine->toHost("C:\\WINDOWS\\REGEDIT.EXE"));
    if (internetExplorer) {
      createKey(HKEY_LOCAL_MACHINE, kActiveX);
      createKey(HKEY_CURRENT_USER, kDomains);
    }
    t.program->context().internet = &internet;
    t.program->context().http = &http;
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
  std::map<std::string, std::string> definitionFiles() const {
    std::map<std::string, std::string> files;
    for (const auto& name : kDefinitions) files[name] = slurp(util() / name);
    return files;
  }
  void setInternet(const std::string& key, const std::string& value) {
    auto m = platform::Machine::open(t.dir);
    m.setIni("Internet", key, value);
  }
  void createKey(HKEY root, const std::string& key) {
    HKEY h = 0;
    ASSERT_EQ(t.registry->RegCreateKey(root, key, &h), ERROR_SUCCESS) << key;
    t.registry->RegCloseKey(h);
  }
  void setValue(HKEY root, const std::string& key, const std::string& name, uint32_t type, const std::string& data) {
    HKEY h = 0;
    ASSERT_EQ(t.registry->RegCreateKey(root, key, &h), ERROR_SUCCESS) << key;
    ASSERT_EQ(t.registry->RegSetValueEx(h, name, type, data), ERROR_SUCCESS) << key << " " << name;
    t.registry->RegCloseKey(h);
  }
  // The value's type and data, or "absent".
  std::string value(HKEY root, const std::string& key, const std::string& name) {
    HKEY h = 0;
    if (t.registry->RegOpenKeyEx(root, key, 0x2003F, &h) != ERROR_SUCCESS) return "absent";
    char data[64] = {};
    uint32_t type = 0, size = sizeof data;
    const long rc = t.registry->RegQueryValueEx(h, name, &type, data, &size);
    t.registry->RegCloseKey(h);
    return rc == ERROR_SUCCESS ? std::to_string(type) + ":" + std::string(data, size) : "absent";
  }
  // The whole registry as the machine's registry editor exports it.
  std::string exported() {
    const std::string file = "C:\\registry.reg";
    const auto job = t.launcher->start("C:\\WINDOWS\\REGEDIT.EXE /e " + file, platform::WindowStyle::Hide);
    EXPECT_TRUE(t.launcher->wait(job, 30000));
    EXPECT_EQ(t.launcher->exitStatus(job).value_or(-1), 0);
    std::string text = platform::readFile(*t.machine, file);
    platform::deleteFile(*t.machine, file);
    return text;
  }
  void block() {
    main->cmdBlockSpy->userClick();
    EXPECT_EQ(t.linesStartingWith("message:").back(),
              "message: Brakvel 9x | information | Spyware programs successfully disabled .");
  }
  void unblock() {
    main->cmdUndoSpy->userClick();
    EXPECT_EQ(t.linesStartingWith("message:").back(),
              "message: Brakvel 9x | information | Spyware protection successfully discarded .");
  }
  void serveGoodDefinitions(LocalHttpServer& server) {
    for (const auto& name : kDefinitions) server.set("/spydef/" + name, {200, slurp(fs::path(BRAKVEL9X_UTIL_DIR) / name)});
    setInternet("UpdateServer", server.baseUrl());
  }

  apptest::TestProgram t;
  TestInternet internet;
  platform::net::HostHttp http;
  app::frmGlavni* main = nullptr;
};

class SpywareScreen : public ::testing::Test {
 protected:
  Station s;
  apptest::TestProgram& t = s.t;
};

}  // namespace

TEST_F(SpywareScreen, StartUpFillsTheListAndLeavesNoPlainForm) {
  s.start();
  std::string expected;
  for (const auto& line : crlfLines(kSpylist)) expected += "\r\n" + line;
  EXPECT_EQ(s.main->txtSpyList->text(), expected);
  EXPECT_EQ(s.utilFiles(), kDefinitions);
}

TEST_F(SpywareScreen, ListOfTwoLinesStartsWithAnEmptyLine) {
  std::ofstream(s.util() / "spylist.enc", std::ios::binary) << spyware::ConvertString("A\r\nB\r\n");
  s.start();
  EXPECT_EQ(s.main->txtSpyList->text(), "\r\nA\r\nB");
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

TEST_F(SpywareScreen, BlockShowsEveryLineAndUnblockLeavesTheRegistryAsItWas) {
  s.start();
  const std::string before = s.exported();

  s.main->cmdBlockSpy->userClick();
  auto lines = t.newLines();
  ASSERT_FALSE(lines.empty());
  std::vector<std::string> expected = {"start: hidden regedit.exe /s C:\\PROGRA~1\\BRAKVE~1\\UTIL\\ANTISPY.REG"};
  for (const auto& line : crlfLines(kAntispy)) expected.push_back("status: Disabling entry " + line);
  expected.push_back("status: ");
  expected.push_back("message: Brakvel 9x | information | Spyware programs successfully disabled .");
  EXPECT_EQ(lines, expected);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "status: Disabling entry "), lines.end())
      << "an empty script line still shows the prefix";
  EXPECT_EQ(s.value(HKEY_CURRENT_USER, kDomains + "\\gator.com", "*"), "4:" + dword(4));
  EXPECT_EQ(s.value(HKEY_LOCAL_MACHINE, kActiveX + "\\{5DCE4506-356D-41C7-8096-0BAAAA64B48D}", "Compatibility Flags"),
            "4:" + dword(0x400));
  EXPECT_EQ(s.utilFiles(), (std::vector<std::string>{"antispy.enc", "spyblock.bak", "spylist.enc", "undospy.enc"}));

  s.main->cmdUndoSpy->userClick();
  lines = t.newLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.front(), "start: hidden regedit.exe /s C:\\PROGRA~1\\BRAKVE~1\\UTIL\\UNDOSPY.REG");
  EXPECT_EQ(lines[1], "status: Removing entry REGEDIT4");
  EXPECT_EQ(lines.back(), "message: Brakvel 9x | information | Spyware protection successfully discarded .");
  EXPECT_EQ(s.exported(), before);
  EXPECT_EQ(s.utilFiles(), kDefinitions);
}

// The user's own entries for listed domains and controls, made before the
// block, are there again after the unblock exactly as they were; keys only
// the block made are gone, up to the first key that was there.
TEST_F(SpywareScreen, UnblockGivesBackWhatTheBlockTook) {
  const std::string bonzi = kDomains + "\\bonzi.com";
  const std::string gator = kDomains + "\\gator.com";
  const std::string comet = kDomains + "\\cometsystems.com";
  const std::string killed = kActiveX + "\\{5DCE4506-356D-41C7-8096-0BAAAA64B48D}";
  const std::string empty = kActiveX + "\\{05BF0061-6432-4ACA-86E6-EEA8C0B26477}";
  // The unblock script of earlier definitions removed whole keys.
  std::string olderUndo = "REGEDIT4\r\n\r\n";
  for (const auto& line : crlfLines(kAntispy)) {
    if (!line.empty() && line.front() == '[') olderUndo += "[-" + line.substr(1) + "\r\n\r\n";
  }
  struct Case {
    const char* what;
    bool internetExplorer;
    bool userEntries;
    int blocks;
    bool olderUndo = false;
  };
  for (const Case c : {Case{"Internet Explorer's keys only", true, false, 1},
                       Case{"no Internet Explorer keys at all", false, false, 1},
                       Case{"the user's own entries", true, true, 1},
                       Case{"the user's own entries, blocked twice", true, true, 2},
                       Case{"the user's own entries, unblocked by the older script", true, true, 1, true}}) {
    SCOPED_TRACE(c.what);
    Station st(c.internetExplorer);
    if (c.olderUndo) {
      std::ofstream(st.util() / "undospy.enc", std::ios::binary | std::ios::trunc) << spyware::ConvertString(olderUndo);
    }
    if (c.userEntries) {
      // A Restricted-zone entry of the user's with a value and a subkey of its own.
      st.setValue(HKEY_CURRENT_USER, gator, "file", REG_DWORD, dword(4));
      st.setValue(HKEY_CURRENT_USER, gator + "\\www", "*", REG_DWORD, dword(4));
      // Holds nothing but what the block sets too.
      st.setValue(HKEY_CURRENT_USER, comet, "*", REG_DWORD, dword(4));
      // Trusted by the user; the block makes it restricted.
      st.setValue(HKEY_CURRENT_USER, bonzi, "*", REG_DWORD, dword(2));
      // A control the user had switched off differently, with another value.
      st.setValue(HKEY_LOCAL_MACHINE, killed, "Compatibility Flags", REG_BINARY, "\x01\x00");
      st.setValue(HKEY_LOCAL_MACHINE, killed, "AlternateCLSID", REG_SZ, std::string("{00000000-1111}\0", 16));
      st.createKey(HKEY_LOCAL_MACHINE, empty);
    }
    st.start();
    const std::string before = st.exported();
    for (int i = 0; i < c.blocks; ++i) st.block();
    EXPECT_EQ(st.value(HKEY_CURRENT_USER, bonzi, "*"), "4:" + dword(4));
    EXPECT_EQ(st.value(HKEY_LOCAL_MACHINE, killed, "Compatibility Flags"), "4:" + dword(0x400));
    st.unblock();
    EXPECT_EQ(st.exported(), before);
    EXPECT_EQ(st.utilFiles(), kDefinitions);
  }
}

// Without a block before it (or after the user changed a blocked value),
// the unblock takes away only the blocking values still in place, and a key
// only when it empties it.
TEST_F(SpywareScreen, UnblockTakesAwayOnlyBlockingValuesStillInPlace) {
  const std::string gator = kDomains + "\\gator.com";
  const std::string comet = kDomains + "\\cometsystems.com";
  const std::string bonzi = kDomains + "\\bonzi.com";
  s.setValue(HKEY_CURRENT_USER, gator, "*", REG_DWORD, dword(4));
  s.setValue(HKEY_CURRENT_USER, gator, "file", REG_DWORD, dword(4));
  s.setValue(HKEY_CURRENT_USER, comet, "*", REG_DWORD, dword(4));
  s.setValue(HKEY_CURRENT_USER, bonzi, "*", REG_DWORD, dword(1));
  s.start();
  s.unblock();
  EXPECT_EQ(s.value(HKEY_CURRENT_USER, gator, "*"), "absent");
  EXPECT_EQ(s.value(HKEY_CURRENT_USER, gator, "file"), "4:" + dword(4));
  HKEY h = 0;
  EXPECT_NE(t.registry->RegOpenKeyEx(HKEY_CURRENT_USER, comet, 0x2003F, &h), ERROR_SUCCESS);
  EXPECT_EQ(s.value(HKEY_CURRENT_USER, bonzi, "*"), "4:" + dword(1));

  // Blocked, then the user trusts a blocked domain: that choice stays.
  s.block();
  s.setValue(HKEY_CURRENT_USER, bonzi, "*", REG_DWORD, dword(2));
  s.unblock();
  EXPECT_EQ(s.value(HKEY_CURRENT_USER, bonzi, "*"), "4:" + dword(2));
  EXPECT_EQ(s.value(HKEY_CURRENT_USER, gator, "*"), "absent");
  EXPECT_EQ(s.utilFiles(), kDefinitions);
}

// A definition file put in place by hand is checked as a download is:
// nothing of it reaches the registry, and the message names the file and
// the first line that is not allowed.
TEST_F(SpywareScreen, DefinitionThatDoesMoreThanBlockingIsNotImported) {
  struct Case {
    const char* file;
    std::string plain;
    std::string fault;
  };
  const Case cases[] = {
      {"antispy.enc",
       "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\exefile\\shell\\open\\command]\r\n@=\"C:\\\\evil.exe \\\"%1\\\"\"\r\n",
       "line 3 is not allowed: \"[HKEY_CLASSES_ROOT\\exefile\\shell\\open\\command]\""},
      {"undospy.enc",
       "REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall]\r\n",
       "line 3 is not allowed: \"[-HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall]\""},
      {"antispy.enc", "<html><body>Moved</body></html>\r\n",
       "line 1 is not allowed: \"<html><body>Moved</body></html>\" (a script starts with REGEDIT4)"},
  };
  s.setValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Word", "DisplayName",
             REG_SZ, std::string("Word\0", 5));
  s.start();
  const std::string before = s.exported();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plain);
    std::ofstream(s.util() / c.file, std::ios::binary | std::ios::trunc) << spyware::ConvertString(c.plain);
    t.newLines();
    (std::string(c.file) == "antispy.enc" ? s.main->cmdBlockSpy : s.main->cmdUndoSpy)->userClick();
    EXPECT_EQ(t.newLines(), (std::vector<std::string>{"message: Brakvel 9x | exclamation | The spyware definition file " +
                                                      kUtil + "\\" + c.file + " cannot be used: " + c.fault +
                                                      " .\\r\\nNothing was imported into the registry ."}));
    EXPECT_EQ(s.exported(), before);
    EXPECT_EQ(s.utilFiles(), kDefinitions);
  }
}

TEST_F(SpywareScreen, FailedImportIsReportedWithTheEditorsMessageAndRecordsNothing) {
  s.start();
  const fs::path system = t.machine->toHost("C:\\WINDOWS\\System.dat");
  std::ofstream(system, std::ios::binary | std::ios::trunc) << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Broken\r\n";
  s.main->cmdBlockSpy->userClick();
  const auto messages = t.linesStartingWith("message:");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("message: Brakvel 9x | critical | The registry editor could not import " + kUtil +
                                  "\\antispy.reg (exit status ",
                              0),
            0u)
      << messages[0];
  EXPECT_NE(messages[0].find("System.dat:3:"), std::string::npos) << "the editor names the damage: " << messages[0];
  EXPECT_EQ(s.utilFiles(), kDefinitions);
}

TEST_F(SpywareScreen, EditorThatCannotStartIsReportedAndNoSuccessFollows) {
  fs::remove(t.machine->toHost("C:\\WINDOWS\\REGEDIT.EXE"));
  s.start();
  for (auto* button : {s.main->cmdBlockSpy, s.main->cmdUndoSpy}) {
    t.newLines();
    button->userClick();
    const auto messages = t.linesStartingWith("message:");
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().rfind("message: Error: | critical | Error # 53 File not found\\r\\nWith: "
                                    "C:\\PROGRA~1\\BRAKVE~1\\UTIL\\",
                                    0),
              0u)
        << messages.back();
    EXPECT_EQ(s.utilFiles(), kDefinitions) << "a block that did not happen records nothing";
  }
}

TEST_F(SpywareScreen, MissingDefinitionFileImportsNothing) {
  fs::remove(s.util() / "antispy.enc");
  std::ofstream(s.util() / "undospy.enc", std::ios::trunc).flush();
  s.start();
  s.main->cmdBlockSpy->userClick();
  s.main->cmdUndoSpy->userClick();
  EXPECT_TRUE(t.linesStartingWith("start:").empty());
  EXPECT_EQ(t.linesStartingWith("message:"),
            (std::vector<std::string>{
                "message: Brakvel 9x | exclamation | The spyware definition file " + kUtil +
                    "\\antispy.enc is missing or empty .\\r\\nNothing was imported into the registry .",
                "message: Brakvel 9x | exclamation | The spyware definition file " + kUtil +
                    "\\undospy.enc is missing or empty .\\r\\nNothing was imported into the registry ."}));
}

// Every line shows, 5 ms each, but the walk never takes more than 5 s in
// all, however long the script.
TEST_F(SpywareScreen, LineDisplayIsBoundedHoweverLongTheScript) {
  std::string longScript = "REGEDIT4\r\n\r\n";
  for (int i = 0; i < 700; ++i) {
    char clsid[40];
    std::snprintf(clsid, sizeof clsid, "{00000000-0000-0000-0000-%012d}", i);
    longScript += "[HKEY_LOCAL_MACHINE\\" + kActiveX + "\\" + clsid + "]\r\n\"Compatibility Flags\"=dword:00000400\r\n\r\n";
  }
  struct Case {
    std::string script;
    int64_t pausedMs;
  };
  for (const Case& c : {Case{kAntispy, static_cast<int64_t>(crlfLines(kAntispy).size()) * 5}, Case{longScript, 4000}}) {
    Station st;
    std::ofstream(st.util() / "antispy.enc", std::ios::binary | std::ios::trunc) << spyware::ConvertString(c.script);
    st.start();
    const int64_t start = st.t.clock.nowMs();
    st.block();
    EXPECT_EQ(st.t.clock.nowMs() - start, c.pausedMs);
    EXPECT_EQ(st.t.linesStartingWith("status: Disabling entry ").size(), crlfLines(c.script).size());
  }
}

TEST_F(SpywareScreen, UpdateReplacesTheThreeFilesInOrderAndKeepsTheList) {
  LocalHttpServer server;
  s.serveGoodDefinitions(server);
  const std::vector<std::string> bodies = {
      spyware::ConvertString("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\" + kDomains + "\\example.com]\r\n\"*\"=dword:00000004\r\n"),
      spyware::ConvertString("One\r\n"),
      spyware::ConvertString("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\" + kDomains + "\\example.com]\r\n\"*\"=-\r\n")};
  for (size_t i = 0; i < 3; ++i) server.set("/spydef/" + kDefinitions[i], {200, bodies[i]});
  s.start();
  const std::string list = s.main->txtSpyList->text();
  s.main->cmdInternetUpdate->userClick();
  EXPECT_EQ(t.newLines(), (std::vector<std::string>{
                              "status: Retrieving spyware definition database ,please wait...",
                              "status: ",
                              "message: Brakvel 9x | none | Spyware definition database successfuly updated ."}));
  for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(slurp(s.util() / kDefinitions[i]) == bodies[i]) << kDefinitions[i];
  EXPECT_EQ(server.requests(),
            (std::vector<std::string>{"/spydef/antispy.enc", "/spydef/spylist.enc", "/spydef/undospy.enc"}));
  EXPECT_EQ(s.main->txtSpyList->text(), list);
  EXPECT_EQ(s.utilFiles(), kDefinitions);
}

// Whatever the server does, the old definition files stay byte for byte,
// the registry is untouched, and the message names the download and what
// went wrong.
TEST_F(SpywareScreen, MisbehavingServersChangeNothing) {
  struct Case {
    const char* what;
    std::string path;
    LocalHttpServer::Response response;
    std::string reason;  // how it starts
  };
  const std::string hostile = spyware::ConvertString(
      "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\exefile\\shell\\open\\command]\r\n@=\"C:\\\\spy.exe \\\"%1\\\"\"\r\n\r\n"
      "[-HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall]\r\n");
  std::string drip;
  for (int i = 0; i < 100; ++i) drip += spyware::ConvertString("Gator\r\n");
  const Case cases[] = {
      {"an HTML page", "/spydef/antispy.enc", {200, "<html>\r\n<body>Welcome</body>\r\n</html>\r\n"},
       "it is not a spyware definition file: line 1 does not end with CR LF"},
      {"a hostile script", "/spydef/undospy.enc", {200, hostile},
       "it is not a spyware definition file: line 3 is not allowed: \"[HKEY_CLASSES_ROOT\\exefile\\shell\\open\\command]\""},
      {"a body over the limit", "/spydef/spylist.enc", {200, "", false, 8ull << 20}, "the file is larger than 64 KiB"},
      {"a server that sends nothing", "/spydef/antispy.enc", {200, "", false, 0, 0, true},
       "the update did not finish within 1.5 seconds: the server did not answer"},
      {"a server that drips", "/spydef/spylist.enc", {200, drip, false, 0, 10},
       "the update did not finish within 1.5 seconds: the server was still sending ("},
      {"an error page", "/spydef/spylist.enc", {500, "<html>broken</html>"}, "the server answered 500 Internal Server Error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Station st;
    LocalHttpServer server;
    st.serveGoodDefinitions(server);
    server.set(c.path, c.response);
    st.start();
    st.main->updateLimits = {64 * 1024, 1500ms};
    const auto files = st.definitionFiles();
    const std::string registry = st.exported();
    st.main->cmdInternetUpdate->userClick();
    const auto messages = st.t.linesStartingWith("message:");
    ASSERT_EQ(messages.size(), 1u);
    const std::string head = "message: Brakvel 9x | exclamation | The spyware definition database was not updated "
                             ".\\r\\nDownload of " + server.baseUrl() + c.path + " failed: ";
    EXPECT_EQ(messages[0].rfind(head + c.reason, 0), 0u) << messages[0];
    EXPECT_TRUE(messages[0].ends_with(" .\\r\\nYour current definitions are kept .")) << messages[0];
    EXPECT_EQ(st.t.linesStartingWith("status: ").back(), "status: ");
    EXPECT_TRUE(st.definitionFiles() == files);
    EXPECT_EQ(st.utilFiles(), kDefinitions);
    EXPECT_EQ(st.exported(), registry);
  }
}

// While a slow server drips, the status line shows how much has arrived.
TEST_F(SpywareScreen, StatusLineShowsWhatHasArrived) {
  LocalHttpServer server;
  s.serveGoodDefinitions(server);
  std::string list;
  for (int i = 0; i < 17; ++i) list += "Gator\r\n";
  server.set("/spydef/spylist.enc", {200, spyware::ConvertString(list), false, 0, 10});
  s.start();
  s.main->cmdInternetUpdate->userClick();
  const auto lines = t.newLines();
  std::vector<uint64_t> amounts;
  const std::string prefix = "status: Retrieving spyware definition database ,please wait... ";
  for (const auto& l : lines) {
    if (l.rfind(prefix, 0) == 0) amounts.push_back(std::stoull(l.substr(prefix.size())));
  }
  EXPECT_GE(amounts.size(), 3u);
  EXPECT_TRUE(std::is_sorted(amounts.begin(), amounts.end()));
  EXPECT_EQ(lines.back(), "message: Brakvel 9x | none | Spyware definition database successfuly updated .");
}

// The window stays usable while the update waits: a second click does not
// start another update, and closing the window ends the update at once.
TEST_F(SpywareScreen, WindowClosedWhileTheServerSendsNothing) {
  LocalHttpServer server;
  s.serveGoodDefinitions(server);
  server.set("/spydef/antispy.enc", {200, "", false, 0, 0, true});
  s.start();
  const auto files = s.definitionFiles();
  bool closed = false;
  t.desktop.onLine = [&](const std::string& line) {
    if (closed || line != "status: Retrieving spyware definition database ,please wait...") return;
    closed = true;
    s.main->cmdInternetUpdate->userClick();
    t.program->unload(*s.main);
  };
  const auto start = std::chrono::steady_clock::now();
  s.main->cmdInternetUpdate->userClick();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_TRUE(closed);
  EXPECT_TRUE(t.program->ended());
  EXPECT_LE(server.requests().size(), 1u);
  EXPECT_TRUE(t.linesStartingWith("message:").empty());
  EXPECT_TRUE(s.definitionFiles() == files);
}

TEST_F(SpywareScreen, NotConnectedTouchesNothing) {
  LocalHttpServer server;
  s.serveGoodDefinitions(server);
  s.internet.connected = false;
  const auto files = s.definitionFiles();
  s.start();
  s.main->SBar->setText("Done .");
  t.newLines();
  s.main->cmdInternetUpdate->userClick();
  EXPECT_EQ(t.newLines(), (std::vector<std::string>{
                              "message: No internet connection | information | Please ,connect to internet to proceed ."}));
  EXPECT_EQ(s.main->SBar->text(), "Done .");
  EXPECT_TRUE(server.requests().empty());
  EXPECT_TRUE(s.definitionFiles() == files);
}
