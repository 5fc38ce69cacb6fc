// The registry text form: every value type survives parse and write byte
// for byte, and the parser accepts what scripts in the wild contain.
#include <gtest/gtest.h>

#include "platform/registry/script_text.h"

using namespace platform::hive;

namespace {

// Records what the parser reports.
struct Recorder : TextSink {
  std::vector<std::string> seen;
  std::string key(size_t line, std::string_view path, bool remove) override {
    seen.push_back(std::to_string(line) + (remove ? " -[" : " [") + std::string(path) + "]");
    return {};
  }
  std::string value(size_t line, std::string_view name, uint32_t type, std::string_view data) override {
    std::string hex;
    for (unsigned char c : data) {
      static const char* d = "0123456789abcdef";
      hex += d[c >> 4];
      hex += d[c & 15];
    }
    seen.push_back(std::to_string(line) + " " + std::string(name) + " " + std::to_string(type) + " " + hex);
    return {};
  }
  std::string removeValue(size_t line, std::string_view name) override {
    seen.push_back(std::to_string(line) + " -" + std::string(name));
    return {};
  }
};

// The canonical hive text: what the writer produces for these values.
const std::string kEveryType =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Types]\r\n"
    "@=\"default\"\r\n"
    "\"plain\"=\"C:\\\\Program Files\\\\Brakvel 9x \\\"quoted\\\"\"\r\n"
    "\"empty\"=\"\"\r\n"
    "\"ansi \xe9\xe8\"=\"caf\xe9 \xa9\"\r\n"
    "\"embedded nul\"=hex(1):61,00,62,00\r\n"
    "\"no terminator\"=hex(1):61,62\r\n"
    "\"no bytes\"=hex(1):\r\n"
    "\"line break\"=hex(1):61,0d,0a,62,00\r\n"
    "\"expand\"=hex(2):25,77,69,6e,64,69,72,25,00\r\n"
    "\"binary\"=hex:00,ff,10\r\n"
    "\"empty binary\"=hex:\r\n"
    "\"dword\"=dword:deadbeef\r\n"
    "\"short dword\"=hex(4):01,02,03\r\n"
    "\"multi\"=hex(7):61,00,62,00,00\r\n"
    "\"none\"=hex(0):01\r\n"
    "\"big type\"=hex(12345):aa\r\n"
    "\"long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
    "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\r\n"
    "  2f,30,31\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Types\\key with ] and spaces ]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System]\r\n"
    "\r\n";

TEST(HiveText, EveryValueTypeRoundTripsByteForByte) {
  HiveLoad r = loadHive(kEveryType, "HKEY_LOCAL_MACHINE");
  ASSERT_FALSE(r.error) << r.error->line << ": " << r.error->what;
  EXPECT_EQ(hiveText(r.hive->top()), kEveryType);

  const Key* k = r.hive->top().findChild("SOFTWARE")->findChild("types");
  ASSERT_TRUE(k);
  auto data = [&](const char* name) { return std::string(k->findValue(name)->data); };
  EXPECT_EQ(data("plain"), std::string("C:\\Program Files\\Brakvel 9x \"quoted\"\0", 37));
  EXPECT_EQ(data("empty"), std::string("\0", 1));
  EXPECT_EQ(data("embedded nul"), std::string("a\0b\0", 4));
  EXPECT_EQ(data("no terminator"), "ab");
  EXPECT_EQ(data("dword"), "\xef\xbe\xad\xde");
  EXPECT_EQ(k->findValue("big type")->type, 0x12345u);
  EXPECT_EQ(k->findValue("")->type, 1u);
  EXPECT_EQ(data("long").size(), 50u);
  EXPECT_EQ(k->findValue("ANSI \xc9\xc8")->data, std::string_view("caf\xe9 \xa9\0", 7));
}

TEST(HiveText, KeysAndValuesKeepCreationOrder) {
  auto h = Hive("HKEY_USERS");
  Key& top = h.top();
  for (const char* n : {"zeta", "Alpha", "mid"}) top.addChild(n).setValue(n, 1, "x");
  top.addChild("ALPHA").setValue("second", 4, "abcd");
  top.child(0).setValue("zeta", 3, "y");  // changing a value keeps its place
  EXPECT_EQ(hiveText(top),
            "REGEDIT4\r\n\r\n"
            "[HKEY_USERS\\zeta]\r\n\"zeta\"=hex:79\r\n\r\n"
            "[HKEY_USERS\\Alpha]\r\n\"Alpha\"=hex(1):78\r\n\"second\"=dword:64636261\r\n\r\n"
            "[HKEY_USERS\\mid]\r\n\"mid\"=hex(1):78\r\n\r\n");
  EXPECT_TRUE(top.removeChild("ZETA"));
  EXPECT_FALSE(top.removeChild("zeta"));
  EXPECT_EQ(top.child(0).name(), "Alpha");
}

TEST(HiveText, BigKeysFindByNameWithoutCase) {
  auto h = Hive("HKEY_LOCAL_MACHINE");
  Key& top = h.top();
  for (int i = 0; i < 500; ++i) {
    top.addChild("Key" + std::to_string(i));
    top.setValue("Value" + std::to_string(i), 4, "1234");
  }
  EXPECT_EQ(top.childCount(), 500u);
  EXPECT_EQ(&top.addChild("KEY77"), top.findChild("key77"));
  EXPECT_EQ(top.childCount(), 500u);
  EXPECT_TRUE(top.removeValue("VALUE3"));
  EXPECT_EQ(top.findValue("value3"), nullptr);
  ASSERT_NE(top.findValue("value499"), nullptr);
  EXPECT_EQ(top.findValue("value499")->name, "Value499");
  EXPECT_TRUE(top.removeChild("key10"));
  EXPECT_EQ(top.findChild("KEY10"), nullptr);
  EXPECT_EQ(top.childCount(), 499u);
}

// A hive written out piece by piece gives the same text whatever the piece
// size, also with values far larger than a piece or a block of the arena.
TEST(HiveText, TextInPiecesIsTheWholeText) {
  auto h = Hive("HKEY_LOCAL_MACHINE");
  Key& sw = h.top().addChild("Software");
  for (int i = 0; i < 3000; ++i) {
    Key& k = sw.addChild("Vendor " + std::to_string(i % 40)).addChild("Product " + std::to_string(i));
    k.setValue("DisplayName", 1, "Product \"" + std::to_string(i) + "\"" + std::string(1, '\0'));
    k.setValue("Version", 4, "\x01\x02\x03\x04");
  }
  std::string big(5u << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  sw.addChild("Big").setValue("Blob", 3, big);
  const std::string whole = hiveText(h.top());

  for (size_t chunk : {size_t{64}, size_t{4096}, size_t{256} << 10}) {
    SCOPED_TRACE(chunk);
    std::string joined;
    size_t pieces = 0;
    TextBuffer out;
    out.spillTo(chunk, [&](std::string_view s) {
      joined += s;
      ++pieces;
    });
    hiveText(out, h.top());
    out.flushSpill();
    EXPECT_EQ(out.size(), 0u);
    EXPECT_GE(pieces, 2u);
    EXPECT_TRUE(joined == whole);
  }
  HiveLoad back = loadHive(whole, "HKEY_LOCAL_MACHINE");
  ASSERT_FALSE(back.error);
  EXPECT_TRUE(back.hive->top().findChild("software")->findChild("big")->findValue("blob")->data == big);
}

TEST(ScriptText, AcceptsWhatScriptsInTheWildHold) {
  const std::string script =
      "\n"
      "REGEDIT4\n"
      "; a comment\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\Software\\A]   \n"
      "  \"spaced\" = \"v\"  \n"
      "\"cont\"=HEX:01,02,\\\n"
      "   03 , 04\\\n"
      "  ,05\n"
      "\"d\"=DWORD:0000000A\n"
      "\"gone\"=-\n"
      "[-HKEY_CURRENT_USER\\Old]\n"
      "\t; indented comment\n"
      "[HKEY_USERS\\.Default]\n"
      "@=\"x\"\n";
  Recorder rec;
  Dialect d = Dialect::Version5;
  auto err = parseText(script, rec, &d);
  ASSERT_FALSE(err) << err->line << ": " << err->what;
  EXPECT_EQ(d, Dialect::Regedit4);
  EXPECT_EQ(rec.seen, (std::vector<std::string>{
                          "5 [HKEY_LOCAL_MACHINE\\Software\\A]",
                          "6 spaced 1 7600",
                          "7 cont 3 0102030405",
                          "10 d 4 0a000000",
                          "11 -gone",
                          "12 -[HKEY_CURRENT_USER\\Old]",
                          "14 [HKEY_USERS\\.Default]",
                          "15  1 7800",
                      }));
}

TEST(ScriptText, Version5TextInHexIsUtf16) {
  const std::string script =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\X]\r\n"
      "\"e\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      "\"m\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
      "\"b\"=hex:25,00\r\n";
  Recorder rec;
  Dialect d = Dialect::Regedit4;
  ASSERT_FALSE(parseText(script, rec, &d));
  EXPECT_EQ(d, Dialect::Version5);
  EXPECT_EQ(rec.seen[1], "4 e 2 25412500");
  EXPECT_EQ(rec.seen[2], "5 m 7 6100620000");
  EXPECT_EQ(rec.seen[3], "6 b 3 2500");
}

struct BadHive {
  const char* what;
  std::string text;
  size_t line;
  const char* message;
};

TEST(HiveText, DamagedHiveNamesTheLine) {
  const std::vector<BadHive> cases = {
      {"empty file", "", 1, "no header"},
      {"other header", "REGEDIT5\r\n", 1, "unknown header"},
      {"version 5", "Windows Registry Editor Version 5.00\r\n", 1, "REGEDIT4"},
      {"foreign root", "REGEDIT4\r\n\r\n[HKEY_USERS\\x]\r\n", 3, "key outside HKEY_LOCAL_MACHINE"},
      {"deletion", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\a]\r\n\"v\"=-\r\n", 3, "deletion"},
      {"cut short", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\a]\r\n\"v\"=hex:01,\\\r\n", 3, "last line"},
      {"garbage", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\a]\r\n\"v\"=\"x\"\r\nxyzzy\r\n", 4, "not a key"},
      {"nul bytes", std::string("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\a]\r\n\0\0\0", 37), 3, "NUL"},
  };
  for (const auto& c : cases) {
    HiveLoad r = loadHive(c.text, "HKEY_LOCAL_MACHINE");
    ASSERT_TRUE(r.error) << c.what;
    EXPECT_EQ(r.error->line, c.line) << c.what;
    EXPECT_NE(r.error->what.find(c.message), std::string::npos) << c.what << ": " << r.error->what;
    EXPECT_FALSE(r.hive) << c.what;
  }
}

}  // namespace
