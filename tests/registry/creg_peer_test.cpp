// Every hive we write reads back through libcreg, a reader no one here
// wrote, with exactly the keys and values the program holds.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "creg_fixture.h"
#include "platform/registry/creg_file.h"
#include "platform/registry/hive_store.h"
#include "support.h"

using namespace platform::hive;
using regtest::dumpTree;
using regtest::libcregDump;
using regtest::TempMachine;

namespace {

std::string sz(std::string_view s) { return std::string(s) + '\0'; }

struct PeerCase {
  const char* what;
  std::function<void(Key& top)> fill;
};

const std::vector<PeerCase>& peerCases() {
  static const std::vector<PeerCase> cases = {
      {"empty", [](Key&) {}},
      {"one key", [](Key& top) { top.addChild("SOFTWARE"); }},
      {"values of the top key itself",
       [](Key& top) {
         top.setValue("", 1, sz("top"));
         top.addChild("Under");
       }},
      {"deep nesting",
       [](Key& top) {
         Key* k = &top;
         for (int i = 0; i < 3000; ++i) k = &k->addChild("Level " + std::to_string(i % 10));
         k->setValue("Bottom", 1, sz("here"));
       }},
      {"255-character names",
       [](Key& top) {
         Key& k = top.addChild(std::string(255, 'K'));
         k.setValue(std::string(255, 'v'), 1, sz("long"));
         k.addChild(std::string(254, 'x') + "Y");
       }},
      {"names in Windows-1252",
       [](Key& top) {
         Key& k = top.addChild("Caf\xe9 Soci\xe9t\xe9");
         k.setValue("\x80uro \xe6\xf8\xe5 na\xefve \xdf", 1, sz("\xc0 la carte \xa9"));
         k.addChild("\xc6r\xf8").addChild("M\xfcnchen");
       }},
      {"every value type",
       [](Key& top) {
         Key& k = top.addChild("Types");
         k.setValue("", 1, sz("default"));
         k.setValue("sz", 1, sz("text"));
         k.setValue("sz without NUL", 1, "text");
         k.setValue("expand", 2, sz("%WinDir%\\System"));
         k.setValue("binary", 3, std::string("\x00\xff\x10", 3));
         k.setValue("dword", 4, std::string("\x78\x56\x34\x12", 4));
         k.setValue("multi", 7, std::string("one\0two\0\0", 9));
         for (uint32_t t : {0u, 5u, 6u, 8u, 9u, 10u, 11u, 0x1234u, 0xFFFFFFFFu})
           k.setValue("type " + std::to_string(t), t, "\x01\x02");
       }},
      {"empty and large data",
       [](Key& top) {
         Key& k = top.addChild("Data");
         k.setValue("empty binary", 3, "");
         k.setValue("empty text", 1, "");
         std::string big(kMaxValueData, '\0');
         for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31);
         k.setValue("largest", 3, big);
         top.addChild("Data 2").setValue("largest text", 1, std::string(kMaxValueData - 1, 'T') + '\0');
       }},
      {"many keys under one parent",
       [](Key& top) {
         Key& p = top.addChild("Parent");
         for (int i = 0; i < 5000; ++i) p.addChild("Child " + std::to_string(i)).setValue("n", 4, "\x01\0\0\0");
       }},
      {"a hive larger than 10 MB",
       [](Key& top) {
         Key& sw = top.addChild("SOFTWARE");
         for (unsigned k = 0; k < 40000; ++k) {
           Key& key = sw.addChild("Vendor " + std::to_string(k / 50)).addChild("Product " + std::to_string(k));
           key.setValue("DisplayName", 1, sz("Product " + std::to_string(k)));
           key.setValue("InstallLocation", 1, sz("C:\\Program Files\\Vendor\\Product " + std::to_string(k)));
           key.setValue("Version", 4, std::string("\x01\x02\x03\x04", 4));
           key.setValue("Data", 3, std::string(150, static_cast<char>(k)));
         }
       }},
  };
  return cases;
}

class Peer : public testing::TestWithParam<size_t> {};

TEST_P(Peer, LibcregReadsExactlyWhatTheProgramHolds) {
  const PeerCase& c = peerCases()[GetParam()];
  TempMachine tm;
  HiveStore store(tm.machine());
  {
    HiveStore::Writer w(store);
    c.fill(w.edit(kSystemHive).top());
    w.commit();
  }
  const Key& held = store.read(kSystemHive).top();  // the tree in memory, not read back
  const auto file = tm.hive("System.dat");
  if (std::string(c.what) == "a hive larger than 10 MB") {
    EXPECT_GT(std::filesystem::file_size(file), 10u << 20);
  }
  regtest::Ran r = libcregDump(file);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out == dumpTree(held)) << "libcreg reads something else";
}

INSTANTIATE_TEST_SUITE_P(Hives, Peer, testing::Range(size_t{0}, peerCases().size()), [](const auto& info) {
  std::string n;
  for (char ch : std::string(peerCases()[info.param].what))
    n += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  return n;
});

// The hand-built fixture is what a real hive looks like to libcreg too.
TEST(PeerFixture, LibcregReadsTheRealShapedHiveAsWeDo) {
  TempMachine tm;
  const auto f = tm.put("real.dat", cregfix::realShapedHive());
  regtest::Ran r = libcregDump(f);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, cregfix::realShapedDump());
}

}  // namespace
