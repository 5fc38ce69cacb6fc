// The Windows 9x registry file: what real hives hold is read, what we
// write has their shape and reads back the same, damage is named with its
// offset and never crashes or hangs the reader.
#include <gtest/gtest.h>

#include <random>

#include "creg_fixture.h"
#include "platform/registry/creg_file.h"
#include "support.h"

using namespace platform::hive;
using namespace cregfix;
using regtest::dumpTree;

namespace {

Hive mustRead(std::string bytes, std::string_view top = "HKEY_LOCAL_MACHINE") {
  CregLoad r = readCreg(std::move(bytes), top);
  if (r.error) ADD_FAILURE() << r.error->message();
  return r.hive ? std::move(*r.hive) : Hive(top);
}

std::string sz(std::string_view s) { return std::string(s) + '\0'; }

TEST(CregRead, TakesEverythingARealHiveHolds) {
  Hive h = mustRead(realShapedHive());
  EXPECT_EQ(dumpTree(h.top()), realShapedDump());
  // Names in the ANSI code page, found without letter case.
  const Key* cafe = h.top().findChild("software")->findChild("CAF\xc9 SOCI\xc9T\xc9");
  ASSERT_TRUE(cafe);
  EXPECT_EQ(cafe->name(), "Caf\xe9 Soci\xe9t\xe9");
  ASSERT_TRUE(cafe->findValue("\xe9T\xc9"));
  EXPECT_EQ(cafe->findValue("nonul")->data, "abc");

  // Bytes left at the end of a block, too few for an entry.
  std::string left = realShapedHive();
  size_t p = 4128 + 32;
  while (get16(left, p + 4) != 0xFFFF || p + get32(left, p) != 4128 + 4096) p += get32(left, p);
  set32(left, p, get32(left, p) - 5);
  EXPECT_EQ(dumpTree(mustRead(left).top()), realShapedDump());
}

TEST(CregWrite, AHiveReadAndWrittenBackKeepsWhatWasNotChanged) {
  Hive h = mustRead(realShapedHive());
  EXPECT_EQ(dumpTree(mustRead(cregBytes(h.top())).top()), realShapedDump());

  Key& cafe = *h.top().findChild("SOFTWARE")->findChild("caf\xe9 soci\xe9t\xe9");
  cafe.setValue("DW", 4, std::string("\x07\0\0\0", 4));
  cafe.setValue("New", 1, sz("n"));
  h.top().findChild("SOFTWARE")->findChild("Microsoft")->removeChild("WINDOWS");
  h.top().addChild("Added");
  std::string want = realShapedDump();
  const std::string dw = "V 4457 4 2a000000";
  want.replace(want.find(dw), dw.size(), "V 4457 4 07000000");
  const std::string windows = "K 3 57696e646f7773\nV 56657273696f6e 1 342e313000\n";
  want.erase(want.find(windows), windows.size());
  want.insert(want.find("K 2 4d6963726f736f6674"), "V 4e6577 1 6e00\n");
  want += "K 1 4164646564\n";
  EXPECT_EQ(dumpTree(mustRead(cregBytes(h.top())).top()), want);
}

// A tree of the size of a real System.dat part: many keys, values from none
// to the largest Windows allows, so that data blocks fill to their limits.
Hive sizeableTree() {
  Hive h("HKEY_LOCAL_MACHINE");
  Key& sw = h.top().addChild("SOFTWARE");
  for (int v = 0; v < 40; ++v) {
    Key& vendor = sw.addChild("Vendor " + std::to_string(v));
    for (int p = 0; p < 30; ++p) {
      Key& k = vendor.addChild("Product " + std::to_string(p));
      k.setValue("DisplayName", 1, sz("Product " + std::to_string(p) + " of vendor " + std::to_string(v)));
      if (p % 7 == 0) k.setValue("Blob", 3, std::string(kMaxValueData - (p % 3), static_cast<char>(p)));
      if (p % 11 == 0) k.setValue("NoNul", 1, "x");
    }
  }
  for (int i = 0; i < 700; ++i) h.top().addChild("System").addChild("k" + std::to_string(i));
  return h;
}

// Checks a file against the layout of Windows 98's own hives, reading it
// with nothing but the layout.
void expectWindowsShape(const std::string& f, size_t keys) {
  ASSERT_GE(f.size(), 64u);
  EXPECT_EQ(f.substr(0, 4), "CREG");
  EXPECT_EQ(get16(f, 4), 0u);  // version 1.0
  EXPECT_EQ(get16(f, 6), 1u);
  EXPECT_EQ(get32(f, 12), 0u);
  EXPECT_EQ(get16(f, 18), 32u);
  EXPECT_EQ(get16(f, 22), 1u);
  EXPECT_EQ(f.substr(32, 4), "RGKN");
  const size_t nav = get32(f, 36);
  EXPECT_EQ(nav % 4096, 0u);
  EXPECT_EQ(get32(f, 40), 32u);  // the root key entry comes first
  EXPECT_EQ(get32(f, 8), 32 + nav);  // the first data block follows directly
  const size_t root = 32 + 32;
  EXPECT_EQ(get16(f, root + 24), 0xFFFFu);
  EXPECT_EQ(get16(f, root + 26), 0xFFFFu);
  EXPECT_EQ(get32(f, root + 12), kNone);

  // Data blocks, each right after the one before; the file ends with the last.
  size_t at = 32 + nav, blocks = 0, keyEntries = 0;
  std::vector<std::pair<size_t, std::string>> names;  // (block << 16 | index) -> name
  while (at < f.size()) {
    SCOPED_TRACE("data block at " + std::to_string(at));
    ASSERT_EQ(f.substr(at, 4), "RGDB");
    const size_t size = get32(f, at + 4);
    EXPECT_EQ(size % 4096, 0u);
    EXPECT_LE(size, 61440u);
    EXPECT_EQ(get16(f, at + 12), 8u);
    EXPECT_EQ(get16(f, at + 14), blocks);
    size_t p = at + 32, freeBytes = 0, inBlock = 0;
    while (p < at + size) {  // entries tile the block to its last byte
      const size_t esize = get32(f, p);
      ASSERT_GE(esize, 8u);
      ASSERT_LE(p + esize, at + size);
      if (get16(f, p + 4) == 0xFFFF) {
        freeBytes += esize;
      } else {
        ++inBlock;
        EXPECT_EQ(get32(f, p + 8), esize);  // used size as Windows 98 keeps it
        const size_t nameLen = get16(f, p + 12), values = get16(f, p + 14);
        names.emplace_back((blocks << 16) | get16(f, p + 4), f.substr(p + 20, nameLen));
        size_t v = p + 20 + nameLen;
        for (size_t i = 0; i < values; ++i) {
          EXPECT_EQ(get32(f, v + 4), kNone);
          v += 12 + get16(f, v + 8) + get16(f, v + 10);
        }
        EXPECT_EQ(v, p + esize);
      }
      p += esize;
    }
    EXPECT_EQ(p, at + size);
    EXPECT_EQ(get32(f, at + 8), freeBytes);
    EXPECT_LE(inBlock, 255u);
    keyEntries += inBlock;
    at += size;
    ++blocks;
  }
  EXPECT_EQ(at, f.size());
  EXPECT_EQ(get16(f, 16), blocks);
  EXPECT_EQ(keyEntries, keys);
  // Every key entry's hash is its name's.
  for (size_t i = 1; i <= keys; ++i) {
    const size_t e = 64 + 28 * i;
    const size_t where = (size_t{get16(f, e + 26)} << 16) | get16(f, e + 24);
    auto it = std::find_if(names.begin(), names.end(), [&](const auto& n) { return n.first == where; });
    ASSERT_NE(it, names.end()) << "key entry " << i;
    EXPECT_EQ(get32(f, e + 4), nameHash(it->second)) << it->second;
  }
}

TEST(CregWrite, FilesHaveTheShapeOfWindows98Hives) {
  Hive h = sizeableTree();
  const std::string f = cregBytes(h.top());
  size_t keys = 0;
  std::vector<const Key*> stack{&h.top()};
  while (!stack.empty()) {
    const Key* k = stack.back();
    stack.pop_back();
    for (size_t i = 0; i < k->childCount(); ++i) stack.push_back(&k->child(i)), ++keys;
  }
  expectWindowsShape(f, keys);
  EXPECT_GT(get16(f, 16), 4u);  // several full blocks
  EXPECT_EQ(dumpTree(mustRead(f).top()), dumpTree(h.top()));

  Hive empty("HKEY_USERS");
  const std::string e = cregBytes(empty.top());
  expectWindowsShape(e, 0);
  EXPECT_EQ(e.size(), 32u + 4096 + 4096);
  EXPECT_EQ(dumpTree(mustRead(e).top()), "K 0 \n");
}

// Entries at the very limit of a data block, and around the sizes where no
// free entry fits after them.
TEST(CregWrite, KeysAtTheLimitOfADataBlock) {
  for (size_t target : {kMaxKeyEntry, kMaxKeyEntry - 1, kMaxKeyEntry - 19, kMaxKeyEntry - 20, size_t{4064},
                        size_t{4060}, size_t{4045}}) {
    SCOPED_TRACE(target);
    Hive h("HKEY_LOCAL_MACHINE");
    Key& k = h.top().addChild("Full");
    // 20 + 4 (name) + values of 12 + 1 + data each.
    size_t left = target - 24;
    for (int i = 0; left > 0; ++i) {
      size_t data = std::min(left - 13, kMaxValueData);
      if (left - 13 - data < 14 && left - 13 - data > 0) data = left - 13 - 14;
      k.setValue(std::string(1, static_cast<char>('a' + i)), 3, std::string(data, 'x'));
      left -= 13 + data;
    }
    ASSERT_EQ(keyEntrySize(k), target);
    EXPECT_EQ(valueFault(k, "a", std::string(10, 'y')), "");  // no larger than before
    h.top().addChild("After").setValue("v", 1, sz("after"));
    const std::string f = cregBytes(h.top());
    EXPECT_EQ(dumpTree(mustRead(f).top()), dumpTree(h.top()));
    EXPECT_EQ(f.substr(32 + get32(f, 36), 4), "RGDB");
    EXPECT_LE(get32(f, 32 + get32(f, 36) + 4), 61440u);
  }
}

TEST(CregLimits, WindowsLimitsOnNamesValuesAndKeys) {
  EXPECT_EQ(keyNameFault(std::string(255, 'k')), "");
  EXPECT_NE(keyNameFault(std::string(256, 'k')).find("256 characters (Windows 9x allows at most 255)"),
            std::string::npos);
  Hive h("HKEY_LOCAL_MACHINE");
  Key& k = h.top().addChild("K");
  EXPECT_EQ(valueFault(k, "v", std::string(kMaxValueData, 'd')), "");
  EXPECT_NE(valueFault(k, "v", std::string(kMaxValueData + 1, 'd')).find("16301 bytes of data"), std::string::npos);
  for (int i = 0; i < 3; ++i) k.setValue("v" + std::to_string(i), 3, std::string(kMaxValueData, 'd'));
  // 20 + 1 + 3 * (12 + 2 + 16300) = 48963: a fourth full value is too much.
  EXPECT_EQ(keyEntrySize(k), 48963u);
  EXPECT_EQ(valueFault(k, "v3", std::string(kMaxKeyEntry - 48963 - 14, 'd')), "");
  EXPECT_NE(valueFault(k, "v3", std::string(kMaxKeyEntry - 48963 - 13, 'd')).find("would take 61409 bytes"),
            std::string::npos);
  // Replacing a value counts the new data instead of the old.
  EXPECT_EQ(valueFault(k, "V1", std::string(kMaxValueData, 'e')), "");
}

TEST(CregWrite, WhatNoRegistryFileCanHoldIsRefusedNamingTheKey) {
  Hive h("HKEY_LOCAL_MACHINE");
  h.top().addChild("Old text hive").setValue("huge", 3, std::string(70000, 'h'));
  try {
    cregBytes(h.top());
    FAIL() << "written";
  } catch (const std::length_error& e) {
    EXPECT_NE(std::string(e.what()).find("key \"Old text hive\": value \"huge\" of 70004 bytes"), std::string::npos)
        << e.what();
  }
}

TEST(CregDeep, AHundredThousandLevelsAreWrittenAndReadWithoutRecursion) {
  Hive h("HKEY_LOCAL_MACHINE");
  Key* k = &h.top();
  const size_t kDepth = 100000;
  for (size_t i = 0; i < kDepth; ++i) k = &k->addChild(i % 2 ? "a" : "B");
  k->setValue("bottom", 4, std::string("\x01\0\0\0", 4));
  const std::string f = cregBytes(h.top());
  // Each level: its 28-byte key entry, a 21-byte name entry, a share of its block.
  EXPECT_LT(f.size(), kDepth * 64);
  Hive back = mustRead(f);
  const Key* b = &back.top();
  size_t depth = 0;
  while (b->childCount() == 1) b = &b->child(0), ++depth;
  EXPECT_EQ(depth, kDepth);
  ASSERT_TRUE(b->findValue("bottom"));
}

struct Damage {
  const char* what;
  std::function<void(std::string&)> apply;
  uint64_t offset;
  const char* message;
};

TEST(CregRead, DamageIsNamedWithItsOffset) {
  // The real-shaped hive: RGKN at 32 (4096 bytes), block 0 at 4128, block 1 at 8224.
  const std::string good = realShapedHive();
  const size_t nav = 64, block0 = 4128, block1 = 8224;
  const size_t hardware = nav + 28, software = nav + 84, cafe = nav + 140;
  const std::vector<Damage> cases = {
      {"empty", [](std::string& f) { f.clear(); }, 0, "cut short: 0 bytes"},
      {"header cut", [](std::string& f) { f.resize(31); }, 0, "cut short: 31 bytes"},
      {"wrong signature", [](std::string& f) { f.replace(0, 4, "regf"); }, 0, "wrong signature \"regf\""},
      {"version", [](std::string& f) { set16(f, 6, 2); }, 4, "format version 2.0"},
      {"navigation cut", [](std::string& f) { f.resize(40); }, 32, "no room for the key navigation block"},
      {"navigation signature", [](std::string& f) { f.replace(32, 4, "RGKM"); }, 32, "\"RGKM\""},
      {"navigation past the end", [](std::string& f) { f.resize(3000); }, 36, "runs past the end of the file"},
      {"root outside", [](std::string& f) { set32(f, 40, 4090); }, 40, "root key entry at 4090"},
      {"first block outside", [](std::string& f) { set32(f, 8, 90000); }, 8, "past the end of the file"},
      {"first block inside navigation", [](std::string& f) { set32(f, 8, 100); }, 8, "inside the key navigation"},
      {"data cut", [](std::string& f) { f.resize(block1 + 100); }, block1 + 4, "runs past the end of the file"},
      {"second block missing", [](std::string& f) { f.resize(block1); }, block1, "data block 2 of 2 is missing"},
      {"block signature", [](std::string& f) { f.replace(block0, 4, "RGDC"); }, block0, "of data block 1 (RGDB)"},
      {"link outside", [](std::string& f) { set32(f, software + 16, 5000); }, software + 16, "points to 5000"},
      {"sibling loop", [](std::string& f) { set32(f, software + 20, 60); }, software + 20, "loop in the key links"},
      {"loop to an ancestor", [](std::string& f) { set32(f, cafe + 16, 116); }, cafe + 16, "reached twice"},
      {"a key without name entry", [](std::string& f) { set32(f, hardware + 24, 0xFFFFFFFF); }, hardware + 24,
       "has no name entry"},
      {"missing block", [](std::string& f) { set16(f, hardware + 26, 7); }, hardware + 26,
       "data block 7, which the file does not have (it has 2)"},
      {"missing index", [](std::string& f) { set16(f, hardware + 24, 1); }, hardware + 24,
       "entry 1 of data block 1 (at offset 8224)"},
      {"name longer than its entry", [](std::string& f) { set16(f, block1 + 32 + 12, 200); }, block1 + 32 + 12,
       "key name of 200 bytes is longer than its entry (28 bytes)"},
      {"entry that stops the block", [](std::string& f) { set32(f, block1 + 32, 0); }, hardware + 24,
       "claims 0 bytes"},
      {"entry past the block", [](std::string& f) { set32(f, block1 + 32, 5000); }, hardware + 24,
       "claims 5000 bytes where the block has 4064"},
  };
  for (const auto& c : cases) {
    std::string f = good;
    c.apply(f);
    CregLoad r = readCreg(f, "HKEY_LOCAL_MACHINE");
    ASSERT_TRUE(r.error) << c.what;
    EXPECT_FALSE(r.hive) << c.what;
    EXPECT_EQ(r.error->offset, c.offset) << c.what << ": " << r.error->message();
    EXPECT_NE(r.error->what.find(c.message), std::string::npos) << c.what << ": " << r.error->message();
  }
  // Values that run past their key's entry.
  std::string f = good;
  const size_t cafeEntry = block0 + 32 + get32(good, block0 + 32) + get32(good, block0 + 32 + get32(good, block0 + 32));
  ASSERT_EQ(good.substr(cafeEntry + 20, 4), "Caf\xe9");
  set16(f, cafeEntry + 14, 11);  // one value more than it holds
  CregLoad r = readCreg(f, "HKEY_LOCAL_MACHINE");
  ASSERT_TRUE(r.error);
  EXPECT_NE(r.error->message().find("value 11 of 11 of key \"Caf\\xE9 Soci\\xE9t\\xE9\" runs past the end"),
            std::string::npos)
      << r.error->message();
}

// Bytes changed at random: the reader loads or refuses, never more.
TEST(CregRead, RandomDamageIsRefusedOrRead) {
  const std::string good = realShapedHive();
  std::mt19937 rng(1998);
  size_t refused = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string f = good;
    const int changes = 1 + static_cast<int>(rng() % 4);
    for (int c = 0; c < changes; ++c) f[rng() % f.size()] = static_cast<char>(rng());
    if (round % 10 == 0) f.resize(rng() % f.size());
    CregLoad r = readCreg(f, "HKEY_LOCAL_MACHINE");
    EXPECT_NE(r.hive.has_value(), r.error.has_value());
    if (r.error) ++refused;
  }
  EXPECT_GT(refused, 300u);
}

}  // namespace
