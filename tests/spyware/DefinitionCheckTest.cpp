// What a definition file may hold: the shipped files pass, anything that
// could make the registry editor do more than block or unblock is refused
// with the first line that is not allowed.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "spyware/DefinitionCheck.h"

using spyware::BlockingEntry;
using spyware::DefinitionKind;
using spyware::checkDefinition;

namespace {

std::string slurp(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

const std::string kClsid =
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Internet Explorer\\ActiveX Compatibility\\"
    "{5DCE4506-356D-41C7-8096-0BAAAA64B48D}";
const std::string kDomain =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\"
    "gator.com";

// A long line as the message quotes it: its first 80 characters.
std::string quoted(const std::string& line) {
  return "\"" + (line.size() > 80 ? line.substr(0, 80) + "..." : line) + "\"";
}

std::string script(const std::vector<std::string>& lines) {
  std::string s = "REGEDIT4\r\n";
  for (const auto& l : lines) s += l + "\r\n";
  return s;
}

}  // namespace

TEST(DefinitionCheck, ShippedDefinitionsPassAndUndoTakesAwayWhatBlockSets) {
  EXPECT_FALSE(checkDefinition(DefinitionKind::SpywareList, slurp(BRAKVEL9X_DEFINITIONS "/spylist")).fault);
  const auto block = checkDefinition(DefinitionKind::BlockScript, slurp(BRAKVEL9X_DEFINITIONS "/antispy.reg"));
  const auto unblock = checkDefinition(DefinitionKind::UnblockScript, slurp(BRAKVEL9X_DEFINITIONS "/undospy.reg"));
  ASSERT_FALSE(block.fault) << *block.fault;
  ASSERT_FALSE(unblock.fault) << *unblock.fault;
  EXPECT_GT(block.entries.size(), 40u);
  EXPECT_EQ(block.entries, unblock.entries);
}

TEST(DefinitionCheck, WhatTheScriptsSetAndTakeAway) {
  struct Case {
    DefinitionKind kind;
    std::string text;
    std::vector<BlockingEntry> entries;
  };
  const Case cases[] = {
      {DefinitionKind::BlockScript,
       script({"", "[" + kClsid + "]", "\"Compatibility Flags\"=dword:00000400", "", "[" + kDomain + "]",
               "\"*\"=dword:00000004", "\"http\"=dword:00000004"}),
       {{kClsid, "Compatibility Flags"}, {kDomain, "*"}, {kDomain, "http"}}},
      // Root names and hex digits in any case.
      {DefinitionKind::BlockScript,
       "REGEDIT4\r\n[hkey_local_machine\\Software\\Microsoft\\Internet Explorer\\ActiveX Compatibility\\"
       "{5dce4506-356d-41c7-8096-0baaaa64b48d}]\r\n\"Compatibility Flags\"=dword:00000400\r\n",
       {{"hkey_local_machine\\Software\\Microsoft\\Internet Explorer\\ActiveX Compatibility\\"
         "{5dce4506-356d-41c7-8096-0baaaa64b48d}",
         "Compatibility Flags"}}},
      {DefinitionKind::UnblockScript, script({"", "[" + kDomain + "]", "\"*\"=-"}), {{kDomain, "*"}}},
      // The older form removes the whole key: it stands for its blocking values.
      {DefinitionKind::UnblockScript, script({"", "[-" + kClsid + "]", "", "[-" + kDomain + "]"}),
       {{kClsid, "Compatibility Flags"}, {kDomain, "*"}, {kDomain, "http"}, {kDomain, "https"}}},
      {DefinitionKind::SpywareList, "Gator\tad-ware \xE9t\xE9\r\n\r\nBonzi\r\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto r = checkDefinition(c.kind, c.text);
    ASSERT_FALSE(r.fault) << *r.fault;
    EXPECT_EQ(r.entries, c.entries);
  }
}

TEST(DefinitionCheck, RefusesAnythingElseNamingTheFirstLine) {
  struct Case {
    DefinitionKind kind;
    std::string text;
    std::string fault;
  };
  const auto B = DefinitionKind::BlockScript;
  const auto U = DefinitionKind::UnblockScript;
  const auto L = DefinitionKind::SpywareList;
  const Case cases[] = {
      {B, "", "the file is empty"},
      {L, std::string(spyware::kMaxDefinitionBytes + 1, 'x'), "the file is larger than 1 MiB"},
      {B, "<html><body>Not here</body></html>\r\n",
       "line 1 is not allowed: \"<html><body>Not here</body></html>\" (a script starts with REGEDIT4)"},
      {B, "<html>\n<body>\n", "line 1 does not end with CR LF"},
      {B, "Windows Registry Editor Version 5.00\r\n",
       "line 1 is not allowed: \"Windows Registry Editor Version 5.00\" (a script starts with REGEDIT4)"},
      {L, "Gator\nBonzi\r\n", "line 1 does not end with CR LF"},
      {L, "Gator\r\nBonzi", "line 2 does not end with CR LF"},
      // A page that was never encoded decodes to bytes without line ends.
      {L, "\xC3\x97\x8B\x92\x93\xC1\xF2\xF5", "line 1 does not end with CR LF"},
      {L, "Gator\r\nBon\rzi\r\n", "line 2 does not end with CR LF"},
      {L, std::string("Gator\r\nBonzi\0\r\n", 14), "line 2 holds the control character 0x00"},
      {B, script({"", "[" + kClsid + "]", "\"Compatibility Flags\"=dword:00000400\x1b"}),
       "line 4 holds the control character 0x1B"},
      // What a hostile server sent: another program for every .exe, and
      // the list of installed programs gone.
      {B, script({"", "[HKEY_CLASSES_ROOT\\exefile\\shell\\open\\command]", "@=\"C:\\\\evil.exe \\\"%1\\\"\""}),
       "line 3 is not allowed: \"[HKEY_CLASSES_ROOT\\exefile\\shell\\open\\command]\""},
      {B, script({"", "[-HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall]"}),
       "line 3 is not allowed: \"[-HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall]\""},
      {B, script({"\"*\"=dword:00000004"}), "line 2 is not allowed: \"\"*\"=dword:00000004\""},
      {B, script({"[" + kClsid + "]", "\"Compatibility Flags\"=dword:00000000"}),
       "line 3 is not allowed: \"\"Compatibility Flags\"=dword:00000000\""},
      {B, script({"[" + kDomain + "]", "\"*\"=dword:00000002"}), "line 3 is not allowed: \"\"*\"=dword:00000002\""},
      {B, script({"[" + kClsid + "]", "\"*\"=dword:00000004"}), "line 3 is not allowed: \"\"*\"=dword:00000004\""},
      {B, script({"[" + kDomain + "]", "\"*\"=hex(4):04,00,00,00"}),
       "line 3 is not allowed: \"\"*\"=hex(4):04,00,00,00\""},
      {B, script({"[" + kDomain + "]", "\"*\" = dword:00000004"}), "line 3 is not allowed: \"\"*\" = dword:00000004\""},
      {B, script({"[" + kDomain + "]", "@=\"x\""}), "line 3 is not allowed: \"@=\"x\"\""},
      {B, script({"[" + kDomain + "]", "\"*\"=-"}), "line 3 is not allowed: \"\"*\"=-\""},
      {B, script({"[-" + kDomain + "]"}), "line 2 is not allowed: " + quoted("[-" + kDomain + "]")},
      {B, script({"; a comment"}), "line 2 is not allowed: \"; a comment\""},
      {B, script({"[" + kDomain + "\\www]"}), "line 2 is not allowed: " + quoted("[" + kDomain + "\\www]")},
      {B, script({"[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Internet Explorer\\ActiveX Compatibility\\{5DCE4506}]"}),
       "line 2 is not allowed: " +
           quoted("[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Internet Explorer\\ActiveX Compatibility\\{5DCE4506}]")},
      {B, script({"[" + kClsid + "] "}), "line 2 is not allowed: " + quoted("[" + kClsid + "] ")},
      {U, script({"[" + kDomain + "]", "\"*\"=dword:00000004"}), "line 3 is not allowed: \"\"*\"=dword:00000004\""},
      {U, script({"[" + kClsid + "]", "\"AlternateCLSID\"=-"}), "line 3 is not allowed: \"\"AlternateCLSID\"=-\""},
      {U, script({"[-" + kClsid + "]", "\"Compatibility Flags\"=-"}),
       "line 3 is not allowed: \"\"Compatibility Flags\"=-\""},
      {U, script({"[-HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap]"}),
       "line 2 is not allowed: " +
           quoted("[-HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap]")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 200));
    const auto r = checkDefinition(c.kind, c.text);
    ASSERT_TRUE(r.fault.has_value());
    EXPECT_EQ(*r.fault, c.fault);
  }
}

TEST(DefinitionCheck, KindsAndSizes) {
  EXPECT_EQ(spyware::definitionKindOf("ANTISPY.ENC"), DefinitionKind::BlockScript);
  EXPECT_EQ(spyware::definitionKindOf("undospy.enc"), DefinitionKind::UnblockScript);
  EXPECT_EQ(spyware::definitionKindOf("spylist.enc"), DefinitionKind::SpywareList);
  EXPECT_FALSE(spyware::definitionKindOf("spylist.dec"));
  EXPECT_EQ(spyware::sizeText(1024 * 1024), "1 MiB");
  EXPECT_EQ(spyware::sizeText(64 * 1024), "64 KiB");
  EXPECT_EQ(spyware::sizeText(1000), "1000 bytes");
  EXPECT_EQ(spyware::blockingValueNames(kDomain), (std::vector<std::string>{"*", "http", "https"}));
  EXPECT_TRUE(spyware::blockingValueNames("HKEY_LOCAL_MACHINE\\Software\\Classes\\exefile").empty());
  EXPECT_EQ(spyware::blockingData("Compatibility Flags"), std::string("\x00\x04\x00\x00", 4));
  EXPECT_EQ(spyware::blockingData("*"), std::string("\x04\x00\x00\x00", 4));
}
