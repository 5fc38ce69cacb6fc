// mtools and fsck.fat against the library, both ways, on every kind of image.
#include <gtest/gtest.h>

#include <map>

#include "platform/text.h"
#include "tests/fat/support.h"

using namespace platform;
using namespace testing_fat;

namespace {

// The attribute letters mattrib shows for a DOS path ("ASHR" order).
std::string mattribOf(const Image& img, const std::string& dosPath) {
  Result r = mtools("mattrib", img, {dosPath});
  std::string flags = r.out.substr(0, r.out.find("::"));
  std::string out;
  for (char c : std::string("ASHR"))
    if (flags.find(c) != std::string::npos) out += c;
  return out;
}

class Peers : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override { img_ = makeImage(dir_.path(), GetParam()); }
  void TearDown() override {
    std::string report;
    EXPECT_TRUE(fsckClean(img_, &report)) << report;
  }
  TempDir dir_;
  Image img_;
};

TEST_P(Peers, MtoolsSeesWhatTheLibraryWrote) {
  struct Name {
    std::string longName;  // UTF-8 here, ANSI for the library
    std::string shortName; // as mdir shows it
  } names[] = {
      {"Program Files.txt", "PROGRA~1.TXT"},
      {"readme.txt", "README.TXT"},  // a long-name entry beside it: Windows 98 keeps the letter case so
      {"UPPER.TXT", "UPPER.TXT"},    // an 8.3 name in capitals is its own and only name
      {"My Document.text", "MYDOCU~1.TEX"},
      {"a+b,c;d=e[f].txt", "A_B_C_~1.TXT"},
      {"x.y z", "X~1.YZ"},
      {".profile", "PROFIL~1"},
      {"G\xC3\xBCnter Gr\xC3\xA4" "fe.doc", "G\xC3\x9CNTER~1.DOC"},
      {"caf\xC3\xA9.txt", "CAF\xC3\x89.TXT"},
      {"\xE2\x82\xAC" "uro.txt", "_URO~1.TXT"},  // no euro sign in code page 850
      {"archive.kvt.bak", "ARCHIV~1.BAK"},
      {"exactly13.txt", "EXACTL~1.TXT"},                // a long name that fills its slot
      {"twenty six characters.text", "TWENTY~1.TEX"},  // ... and two
      {std::string(200, 'n') + ".dat", "NNNNNN~1.DAT"},
  };
  {
    auto v = mount(img_);
    for (const Name& n : names) put(*v, utf8ToAnsi(n.longName), "bytes of " + n.longName);
    put(*v, "attrs.sys", "a", {kReadOnly | kHidden | kSystem | kArchive, DateTime{2001, 2, 3, 4, 5, 6}});
    put(*v, "plain.txt", "p", {kNormal, DateTime{2099, 12, 31, 23, 59, 58}});
  }
  std::map<std::string, MdirLine> shown;
  for (const MdirLine& l : mdir(img_, "::/")) shown[l.shortName] = l;
  for (const Name& n : names) {
    ASSERT_TRUE(shown.count(n.shortName)) << n.shortName << " for " << n.longName;
    const MdirLine& l = shown[n.shortName];
    EXPECT_EQ(l.longName, n.longName == n.shortName ? "" : n.longName);
    std::string bytes = "bytes of " + n.longName;
    EXPECT_EQ(l.size, std::to_string(bytes.size()));
    EXPECT_EQ(mtools("mtype", img_, {"::/" + n.shortName}).out, bytes) << n.longName;
  }
  EXPECT_EQ(shown["ATTRS.SYS"].date, "2001-02-03");
  EXPECT_EQ(shown["ATTRS.SYS"].time, "4:05");
  EXPECT_EQ(shown["PLAIN.TXT"].date, "2099-12-31");
  EXPECT_EQ(shown["PLAIN.TXT"].time, "23:59");
  EXPECT_EQ(mattribOf(img_, "::/attrs.sys"), "ASHR");
  EXPECT_EQ(mattribOf(img_, "::/plain.txt"), "");
  EXPECT_EQ(mattribOf(img_, "::/readme.txt"), "A");
}

TEST_P(Peers, MtoolsSeesDeepFoldersAndChanges) {
  std::string path, dos = "::";
  {
    auto v = mount(img_);
    for (int i = 1; i <= 12; ++i) {
      std::string name = "Level " + std::to_string(i) + " folder";
      path += (path.empty() ? "" : "\\") + name;
      dos += "/" + name;
      v->makeFolder(path);
    }
    put(*v, path + "\\bottom file.txt", "at the bottom");
    // Enough entries to grow a folder past its first cluster.
    for (int i = 0; i < 60; ++i) put(*v, path + "\\entry with a long name " + std::to_string(i) + ".txt", std::to_string(i));
    for (int i = 0; i < 60; i += 3) v->remove(path + "\\entry with a long name " + std::to_string(i) + ".txt");
    v->rename(path + "\\bottom file.txt", "moved up.txt");
    v->rename("Level 1 folder\\Level 2 folder", "Level 2 at the top");
  }
  EXPECT_EQ(mtools("mtype", img_, {"::/moved up.txt"}).out, "at the bottom");
  std::string moved = "::/Level 2 at the top" + dos.substr(std::string("::/Level 1 folder/Level 2 folder").size());
  std::vector<MdirLine> deep = mdir(img_, moved);
  EXPECT_EQ(deep.size(), 40u);
  EXPECT_EQ(mtools("mtype", img_, {moved + "/entry with a long name 59.txt"}).out, "59");
  EXPECT_TRUE(mdir(img_, "::/Level 1 folder").empty());
}

TEST_P(Peers, TheLibraryReadsWhatMtoolsWrote) {
  // Small files, every other one deleted, then one file that fills the holes.
  fs::path host = dir_ / "host";
  fs::create_directories(host);
  for (int i = 0; i < 40; ++i) spit(host / ("small " + std::to_string(i) + ".txt"), std::string(700, static_cast<char>('a' + i % 26)));
  std::string big;
  for (int i = 0; i < 90000; ++i) big += static_cast<char>(' ' + i % 90);
  spit(host / "Fragmented big file.bin", big);
  spit(host / "lower.txt", "lower");
  ASSERT_EQ(mtools("mmd", img_, {"::/Deep one", "::/Deep one/Deeper two"}).status, 0);
  for (int i = 0; i < 40; ++i)
    ASSERT_EQ(mtools("mcopy", img_, {(host / ("small " + std::to_string(i) + ".txt")).string(), "::/Deep one/Deeper two/"}).status, 0);
  for (int i = 0; i < 40; i += 2)
    ASSERT_EQ(mtools("mdel", img_, {"::/Deep one/Deeper two/small " + std::to_string(i) + ".txt"}).status, 0);
  ASSERT_EQ(mtools("mcopy", img_, {(host / "Fragmented big file.bin").string(), "::/Deep one/Deeper two/"}).status, 0);
  ASSERT_EQ(mtools("mcopy", img_, {(host / "lower.txt").string(), "::/"}).status, 0);
  ASSERT_EQ(mtools("mattrib", img_, {"+h", "+r", "::/lower.txt"}).status, 0);

  auto v = mount(img_);
  EXPECT_EQ(v->readAll("Deep one\\Deeper two\\Fragmented big file.bin"), big);
  EXPECT_EQ(v->readAll("DEEPON~1\\DEEPER~1\\FRAGME~1.BIN"), big);
  for (int i = 1; i < 40; i += 2)
    EXPECT_EQ(v->readAll("Deep one\\Deeper two\\small " + std::to_string(i) + ".txt"), std::string(700, static_cast<char>('a' + i % 26)));
  // mtools writes a lower-case 8.3 name as a short entry with the case flags
  // of Windows NT; the letter case comes through.
  FileEntry lower = *v->find("LOWER.TXT");
  EXPECT_EQ(lower.name, "lower.txt");
  EXPECT_EQ(lower.shortName, "LOWER.TXT");
  EXPECT_EQ(lower.attributes, kArchive | kHidden | kReadOnly);
  std::map<std::string, std::string> names;
  for (const FileEntry& e : v->list("Deep one\\Deeper two")) names[e.shortName] = e.name;
  for (const MdirLine& l : mdir(img_, "::/Deep one/Deeper two")) {
    EXPECT_EQ(names[l.shortName], l.longName.empty() ? l.shortName : l.longName);
  }
  // And changes on top of mtools' work.
  put(*v, "Deep one\\Deeper two\\Fragmented big file.bin", "replaced");
  v->remove("Deep one\\Deeper two\\small 1.txt");
  v->setAttributes("lower.txt", kArchive);
  v->remove("lower.txt");
  v.reset();
  EXPECT_EQ(mtools("mtype", img_, {"::/Deep one/Deeper two/Fragmented big file.bin"}).out, "replaced");
}

INSTANTIATE_TEST_SUITE_P(Kinds, Peers,
                         ::testing::Values(Kind::Floppy, Kind::Fat12, Kind::Fat16, Kind::Fat32, Kind::Fat16Mbr,
                                           Kind::Fat32Mbr),
                         [](const auto& info) { return kindName(info.param); });

}  // namespace

namespace {

// A FAT32 volume with mirroring turned off keeps its chains in the copy its
// boot sector names; mtools reads that copy too. (fsck.fat reads the first
// copy whatever the flag says, so it is no judge here.)
TEST(PeersOnFat32, TheActiveCopyWhenMirroringIsOff) {
  TempDir dir;
  Image img = makeImage(dir.path(), Kind::Fat32);
  spit(dir / "h.txt", "hello");
  ASSERT_EQ(mtools("mcopy", img, {(dir / "h.txt").string(), "::/HELLO.TXT"}).status, 0);
  std::string b = slurp(img.path);
  uint32_t reserved = static_cast<unsigned char>(b[14]) | static_cast<unsigned char>(b[15]) << 8;
  for (size_t at : {size_t{0}, size_t{6 * 512}}) b[at + 40] = '\x81';  // the second copy, and its backup
  std::fill_n(b.begin() + reserved * 512 + 12, 64, '\0');             // the first copy forgets the file
  spit(img.path, b);
  {
    auto v = mount(img);
    EXPECT_EQ(v->readAll("HELLO.TXT"), "hello");
    put(*v, "HELLO.TXT", "replaced on the second copy");
    put(*v, "NEW.TXT", std::string(5000, 'n'));
  }
  EXPECT_EQ(mtools("mtype", img, {"::/HELLO.TXT"}).out, "replaced on the second copy");
  EXPECT_EQ(mtools("mtype", img, {"::/NEW.TXT"}).out, std::string(5000, 'n'));
  std::string after = slurp(img.path);
  EXPECT_EQ(after.substr(reserved * 512 + 12, 64), std::string(64, '\0'));  // the first copy was left alone
}

}  // namespace
