// The registry editor as a process: import, export, bad scripts, several
// editors at once, an editor killed while it writes.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include <signal.h>
#include <sys/wait.h>

#include "creg_fixture.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/registry/creg_file.h"
#include "platform/registry/hive_store.h"
#include "platform/registry/registry.h"
#include "support.h"

using regtest::regedit;
using regtest::slurp;
using regtest::TempMachine;
using namespace std::chrono_literals;

namespace {

const std::string kScript =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n"
    "@=\"default\"\r\n"
    "\"path\"=\"C:\\\\Program Files\\\\A \\\"B\\\"\"\r\n"
    "\"nul inside\"=hex(1):61,00,62,00\r\n"
    "\"expand\"=hex(2):25,77,69,6e,64,69,72,25,00\r\n"
    "\"binary\"=hex:de,ad,be,ef\r\n"
    "\"dword\"=dword:00000001\r\n"
    "\"multi\"=hex(7):61,00,62,00,00\r\n"
    "\"none\"=hex(0):\r\n"
    "\"long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
    "  16,17,18,19\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Test\\Sub key]\r\n"
    "\"high\"=\"\xe9t\xe9\"\r\n"
    "\r\n";

TEST(RegeditTool, ImportThenExportGivesTheScriptBack) {
  TempMachine tm;
  tm.put("in.reg", kScript);
  auto r = regedit(tm.dir(), {"/s", "C:\\in.reg"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  r = regedit(tm.dir(), {"/e", "C:\\out.reg", "HKEY_LOCAL_MACHINE\\software\\TEST"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(slurp(tm.dir() / "drive_c" / "out.reg"), kScript);
}

// The program hands the editor short names; both forms name the same script
// and the same export file.
TEST(RegeditTool, ShortAndLongNamesOfTheScriptAndTheExport) {
  TempMachine tm;
  tm.put("Program Files/Brakvel 9x/Spyware definitions/block list.reg", kScript);
  const std::string shortName = tm.machine().shortPath("C:\\Program Files\\Brakvel 9x\\Spyware definitions\\block list.reg");
  ASSERT_EQ(shortName, "C:\\PROGRA~1\\BRAKVE~1\\SPYWAR~1\\BLOCKL~1.REG");
  auto r = regedit(tm.dir(), {"/s", shortName});
  ASSERT_EQ(r.status, 0) << r.err;
  r = regedit(tm.dir(), {"/e", "c:\\progra~1\\brakve~1\\out.reg", "HKEY_LOCAL_MACHINE\\Software\\Test"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(slurp(tm.dir() / "drive_c" / "Program Files" / "Brakvel 9x" / "out.reg"), kScript);
}

TEST(RegeditTool, WholeRegistryExportImportsIntoAnotherMachine) {
  TempMachine a, b;
  a.put("in.reg", kScript +
                      "[HKEY_CURRENT_USER\\Control Panel\\International]\r\n\"sShortDate\"=\"d.M.yyyy\"\r\n"
                      "[HKEY_CLASSES_ROOT\\.kvt]\r\n@=\"Brakvel\"\r\n");
  ASSERT_EQ(regedit(a.dir(), {"/s", "C:\\in.reg"}).status, 0);
  ASSERT_EQ(regedit(a.dir(), {"/e", "C:\\all.reg"}).status, 0);
  const std::string all = slurp(a.dir() / "drive_c" / "all.reg");
  b.put("all.reg", all);
  ASSERT_EQ(regedit(b.dir(), {"/s", "C:\\all.reg"}).status, 0);
  for (const char* hive : {"System.dat", "User.dat"}) EXPECT_EQ(slurp(b.hive(hive)), slurp(a.hive(hive))) << hive;
  EXPECT_NE(all.find("[HKEY_USERS\\.DEFAULT\\Control Panel\\International]"), std::string::npos);
  EXPECT_NE(all.find("[HKEY_LOCAL_MACHINE\\Software\\Classes\\.kvt]"), std::string::npos);
}

TEST(RegeditTool, Version5ScriptsAndDeletions) {
  TempMachine tm(true);
  tm.put("a.reg",
         "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Spy]\r\n\"run\"=\"spy.exe\"\r\n\"keep\"=\"1\"\r\n"
         "[HKEY_CURRENT_USER\\Software\\Spy\\Sub]\r\n[HKEY_CLASSES_ROOT\\.spy]\r\n@=\"spyfile\"\r\n");
  ASSERT_EQ(regedit(tm.dir(), {"/s", "C:\\a.reg"}).status, 0);
  tm.put("b.reg",
         "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Spy]\r\n\"run\"=-\r\n"
         "\"text\"=hex(2):25,00,41,00,25,00,00,00\r\n[-HKEY_CURRENT_USER\\Software\\Spy\\Sub]\r\n"
         "[-HKEY_CLASSES_ROOT\\.spy]\r\n[-HKEY_CLASSES_ROOT\\.never]\r\n");
  auto r = regedit(tm.dir(), {"/s", "C:\\b.reg"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = regedit(tm.dir(), {"/e", "C:\\users.reg", "HKEY_USERS"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(slurp(tm.dir() / "drive_c" / "users.reg"),
            "REGEDIT4\r\n\r\n[HKEY_USERS]\r\n\r\n[HKEY_USERS\\.DEFAULT]\r\n\r\n[HKEY_USERS\\.DEFAULT\\Software]\r\n\r\n"
            "[HKEY_USERS\\.DEFAULT\\Software\\Spy]\r\n\"keep\"=\"1\"\r\n\"text\"=hex(2):25,41,25,00\r\n\r\n");
  EXPECT_TRUE(slurp(tm.hive("Classes.dat")) == platform::hive::cregBytes(platform::hive::Hive("HKEY_CLASSES_ROOT").top()));
}

// n bytes in the hex form of a script.
std::string hexBytes(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += i ? ",5a" : "5a";
  return s;
}

struct BadScript {
  const char* what;
  std::string text;
  int line;
  const char* message;
};

TEST(RegeditTool, BadScriptsChangeNothingAndNameFileAndLine) {
  const std::string head = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Good]\r\n\"a\"=\"1\"\r\n";
  const std::vector<BadScript> cases = {
      {"unknown header", "REGEDIT 4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n", 1, "unknown header"},
      {"value before key", "REGEDIT4\r\n\r\n\"a\"=\"b\"\r\n[HKEY_LOCAL_MACHINE\\X]\r\n", 3,
       "value line before any key"},
      {"bad escape", head + "\"b\"=\"c:\\windows\"\r\n", 5, "bad escape"},
      {"odd hex digits", head + "\"b\"=hex:01,0,02\r\n", 5, "odd number of hex digits"},
      {"odd hex on continuation", head + "\"b\"=hex:01,\\\r\n  023\r\n", 5, "odd number of hex digits"},
      {"short dword", head + "\"b\"=dword:1234\r\n", 5, "not 8 hex digits"},
      {"long dword", head + "\"b\"=dword:000000001\r\n", 5, "not 8 hex digits"},
      {"unknown root", head + "[HKEY_LOCAL_MACHIN\\Software]\r\n", 5, "unknown root"},
      {"unknown root to delete", head + "[-HKEY_DYN_DATA\\X]\r\n", 5, "unknown root"},
      {"no closing bracket", head + "[HKEY_LOCAL_MACHINE\\Software\\Other\r\n\"x\"=\"y\"\r\n", 5,
       "closing bracket"},
      {"binary file", std::string("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\x7f" "ELF\x02\x01\x01") + std::string(2, '\0'), 4,
       "not a text file"},
      {"utf-16 file", std::string("\xff\xfeR\0E\0", 6), 1, "UTF-16"},
      {"missing quote", head + "\"b\"=\"open\r\n", 5, "missing closing quote"},
      {"unknown type", head + "\"b\"=qword:01\r\n", 5, "unknown value type"},
      {"bad line", head + "HKEY_LOCAL_MACHINE\\Software\r\n", 5, "not a key, value or comment"},
      {"late error", head + "\r\n[HKEY_CURRENT_USER\\Fine]\r\n\"v\"=dword:00000001\r\n\"w\"=hex(x):00\r\n", 8,
       "hex(N)"},
      // Windows 9x's own limits.
      {"key name too long", head + "[HKEY_LOCAL_MACHINE\\Software\\" + std::string(256, 'k') + "\\x]\r\n", 5,
       "a key name of 256 characters (Windows 9x allows at most 255)"},
      {"value too big", head + "\"big\"=hex:" + hexBytes(16301) + "\r\n", 5,
       "value \"big\" has 16301 bytes of data (Windows 9x allows at most 16300)"},
      {"values of a key too big",
       head + "\"b1\"=hex:" + hexBytes(16300) + "\r\n\"b2\"=hex:" + hexBytes(16300) + "\r\n\"b3\"=hex:" +
           hexBytes(16300) + "\r\n\"b4\"=hex:" + hexBytes(16300) + "\r\n",
       8, "the values of key \"Good\" would take"},
  };
  TempMachine tm(true);
  tm.put("seed.reg", head + "[HKEY_CLASSES_ROOT\\.txt]\r\n@=\"txtfile\"\r\n[HKEY_CURRENT_USER\\Seed]\r\n");
  ASSERT_EQ(regedit(tm.dir(), {"/s", "C:\\seed.reg"}).status, 0);
  const std::string sys = slurp(tm.hive("System.dat")), user = slurp(tm.hive("User.dat")),
                    cls = slurp(tm.hive("Classes.dat"));
  for (const auto& c : cases) {
    tm.put("Scripts/bad.reg", c.text);
    auto r = regedit(tm.dir(), {"/s", "C:\\Scripts\\bad.reg"});
    EXPECT_NE(r.status, 0) << c.what;
    const std::string where = "C:\\Scripts\\bad.reg:" + std::to_string(c.line) + ": ";
    EXPECT_EQ(r.err.rfind(where, 0), 0u) << c.what << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
    EXPECT_EQ(slurp(tm.hive("System.dat")), sys) << c.what;
    EXPECT_EQ(slurp(tm.hive("User.dat")), user) << c.what;
    EXPECT_EQ(slurp(tm.hive("Classes.dat")), cls) << c.what;
  }
}

TEST(RegeditTool, WithoutSilentSwitchItAsks) {
  TempMachine tm;
  tm.put("a.reg", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Asked]\r\n");
  const std::string before = slurp(tm.hive("System.dat"));
  auto no = regedit(tm.dir(), {"C:\\a.reg"}, "n\n");
  EXPECT_NE(no.status, 0);
  EXPECT_NE(no.out.find("Are you sure"), std::string::npos);
  EXPECT_EQ(slurp(tm.hive("System.dat")), before);
  auto yes = regedit(tm.dir(), {"C:\\a.reg"}, "y\n");
  EXPECT_EQ(yes.status, 0) << yes.err;
  platform::reg::Registry reg(tm.machine());
  platform::reg::HKEY k = 0;
  EXPECT_EQ(reg.RegOpenKeyEx(platform::reg::HKEY_LOCAL_MACHINE, "Asked", 0, &k), 0);
}

TEST(RegeditTool, FailuresExitNonZero) {
  TempMachine tm;
  EXPECT_NE(regedit(tm.dir(), {"/s", "C:\\missing.reg"}).status, 0);
  EXPECT_NE(regedit(tm.dir(), {}).status, 0);
  EXPECT_NE(regedit(tm.dir(), {"/e", "C:\\out.reg", "HKEY_LOCAL_MACHINE\\Nothing"}).status, 0);
  std::ofstream(tm.hive("User.dat"), std::ios::binary) << "REGEDIT4\r\n[HKEY_USERS\\a]\r\n\"x\"=\"\r\n";
  const std::string damaged = slurp(tm.hive("User.dat"));
  tm.put("a.reg", "REGEDIT4\r\n[HKEY_CURRENT_USER\\x]\r\n");
  auto r = regedit(tm.dir(), {"/s", "C:\\a.reg"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("C:\\WINDOWS\\User.dat:3: missing closing quote"), std::string::npos) << r.err;
  EXPECT_EQ(slurp(tm.hive("User.dat")), damaged);
  // A damaged registry file: the file, the offset, what is wrong.
  std::string loop = cregfix::realShapedHive();
  cregfix::set32(loop, 64 + 140 + 16, 116);  // a key whose first subkey is its parent
  std::ofstream(tm.hive("User.dat"), std::ios::binary) << loop;
  r = regedit(tm.dir(), {"/s", "C:\\a.reg"});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.err, "C:\\WINDOWS\\User.dat: offset 220 (0xDC): a loop in the key links: the key entry at offset 148 "
                   "is reached twice\n");
  EXPECT_TRUE(slurp(tm.hive("User.dat")) == loop);
  r = regedit(tm.dir(), {"/e", "C:\\all.reg"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("C:\\WINDOWS\\User.dat: offset 220 (0xDC)"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(tm.dir() / "drive_c" / "all.reg"));
}

// Nesting as deep as a script cares to go: no recursion follows it, and the
// hive holds each level once.
TEST(RegeditTool, AHundredThousandLevelsAreImported) {
  TempMachine tm;
  std::string path = "HKEY_LOCAL_MACHINE\\SOFTWARE";
  for (int i = 0; i < 100000; ++i) path += i % 2 ? "\\a" : "\\B";
  tm.put("deep.reg", "REGEDIT4\r\n\r\n[" + path + "]\r\n\"bottom\"=dword:00000001\r\n");
  auto r = regedit(tm.dir(), {"/s", "C:\\deep.reg"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_LT(std::filesystem::file_size(tm.hive("System.dat")), 6u << 20);
  platform::reg::Registry reg(tm.machine());
  platform::reg::HKEY k = 0;
  ASSERT_EQ(reg.RegOpenKeyEx(platform::reg::HKEY_LOCAL_MACHINE, path.substr(19), 0, &k), 0);
  uint32_t type = 0, size = 0;
  EXPECT_EQ(reg.RegQueryValueEx(k, "bottom", &type, nullptr, &size), 0);
  EXPECT_EQ(type, platform::reg::REG_DWORD);
}

std::string manyKeys(const std::string& prefix, int keys, int valuesPerKey, int counter = 0) {
  std::string s = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Counter]\r\n\"n\"=dword:";
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", counter);
  s += buf;
  s += "\r\n";
  for (int k = 0; k < keys; ++k) {
    s += "[HKEY_LOCAL_MACHINE\\Software\\" + prefix + "\\Key" + std::to_string(k) + "]\r\n";
    for (int v = 0; v < valuesPerKey; ++v)
      s += "\"Value" + std::to_string(v) + "\"=\"" + prefix + " data " + std::to_string(counter) + "\"\r\n";
  }
  return s;
}

size_t subkeys(const platform::Machine& m, const std::string& path) {
  platform::reg::Registry r(m);
  platform::reg::HKEY k = 0;
  if (r.RegOpenKeyEx(platform::reg::HKEY_LOCAL_MACHINE, path, 0, &k)) return 0;
  std::string name;
  size_t n = 0;
  while (r.RegEnumKeyEx(k, static_cast<uint32_t>(n), &name, 256) == 0) ++n;
  return n;
}

TEST(RegeditTool, EditorsRunningTogetherLeaveBothImports) {
  TempMachine tm;
  for (int round = 0; round < 4; ++round) {
    const std::string a = "A" + std::to_string(round), b = "B" + std::to_string(round);
    tm.put("a.reg", manyKeys(a, 2000, 3));
    tm.put("b.reg", manyKeys(b, 2000, 3));
    testsupport::Child pa = regtest::startRegedit(tm.dir(), {"/s", "C:\\a.reg"});
    testsupport::Child pb = regtest::startRegedit(tm.dir(), {"/s", "C:\\b.reg"});
    ASSERT_EQ(pa.wait(120s), 0);
    ASSERT_EQ(pb.wait(120s), 0);
    EXPECT_EQ(subkeys(tm.machine(), "Software\\" + a), 2000u);
    EXPECT_EQ(subkeys(tm.machine(), "Software\\" + b), 2000u);
  }
}

// Killed at moments spread over a whole import: the hive is the old one or
// the new one, whole, and keeps its attributes, read-only included.
TEST(RegeditTool, AnEditorKilledWhileWritingLeavesAWholeHiveWithItsAttributes) {
  TempMachine tm;
  const auto& m = tm.machine();
  const uint8_t rhs = platform::kReadOnly | platform::kHidden | platform::kSystem;
  platform::setAttributes(m, "C:\\WINDOWS\\System.dat", rhs);
  const bool attributesKept = platform::getAttributes(m, "C:\\WINDOWS\\System.dat") == rhs;
  // How long a whole import takes, to spread the kills over it.
  tm.put("big.reg", manyKeys("Big", 6000, 4, 0));
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(regedit(tm.dir(), {"/s", "C:\\big.reg"}).status, 0);
  auto whole = std::chrono::steady_clock::now() - t0;
  // A kill that came after the editor had ended checked nothing: the import
  // ran faster than measured (the measure was taken under load), so the
  // kills come sooner and the rounds go on until enough have hit.
  const int kRounds = 24, kMostRounds = 96;
  int killedWhileRunning = 0, replaced = 0;
  for (int round = 1; round <= kMostRounds && (round <= kRounds || killedWhileRunning < kRounds / 3); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    tm.put("big.reg", manyKeys("Big", 6000, 4, round));
    const std::string before = slurp(tm.hive("System.dat"));
    testsupport::Child editor = regtest::startRegedit(tm.dir(), {"/s", "C:\\big.reg"});
    std::this_thread::sleep_for(whole * ((round - 1) % kRounds + 1) / (kRounds + 1));
    if (editor.kill() == 128 + SIGKILL) {
      ++killedWhileRunning;
    } else {
      whole = whole * 4 / 5;
    }
    if (attributesKept) {
      EXPECT_EQ(platform::getAttributes(m, "C:\\WINDOWS\\System.dat"), rhs);
    }
    const std::string after = slurp(tm.hive("System.dat"));
    if (after == before) continue;
    // Otherwise it is the whole new hive, with this round's data throughout.
    ++replaced;
    auto load = platform::hive::readCreg(after, "HKEY_LOCAL_MACHINE");
    ASSERT_FALSE(load.error) << load.error->message();
    const auto* big = load.hive->top().findChild("Software")->findChild("Big");
    ASSERT_TRUE(big);
    ASSERT_EQ(big->childCount(), 6000u);
    EXPECT_EQ(big->child(5999).findValue("Value3")->data, std::string("Big data ") + std::to_string(round) + '\0');
  }
  EXPECT_GE(killedWhileRunning, kRounds / 3) << "the kills came too late; " << replaced << " hives were replaced";
}

}  // namespace
