#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>

#include "tests/support/host_attributes.h"
#include "tests/support/test_machine.h"
#include "tests/support/errors.h"
#include "platform/error.h"
#include "platform/files.h"

using namespace platform;
using TempMachine = testsupport::TestMachine;
using testsupport::errorOf;

namespace {

std::vector<std::string> dirAll(const Machine& m, const std::string& pattern, uint8_t mask) {
  DirEnum d;
  std::vector<std::string> out;
  for (std::string n = d.first(m, pattern, mask); !n.empty(); n = d.next()) out.push_back(n);
  return out;
}

class Files : public ::testing::Test {
 protected:
  TempMachine tm;
  Machine m = tm.open();
};

}  // namespace

TEST_F(Files, WriteReadAppendAndLines) {
  writeFile(m, "C:\\WINDOWS\\Win.ini", "[windows]\r\nload=\r\n");
  appendFile(m, "c:\\windows\\WIN.INI", "run=\rlast");
  EXPECT_EQ(readFile(m, "C:\\WINDOWS\\Win.ini"), "[windows]\r\nload=\r\nrun=\rlast");
  EXPECT_EQ(readLines(m, "C:\\WINDOWS\\Win.ini"),
            (std::vector<std::string>{"[windows]", "load=", "run=", "last"}));
  writeFile(m, "C:\\lines.txt", "a\n\nb\r\n");
  EXPECT_EQ(readLines(m, "C:\\lines.txt"), (std::vector<std::string>{"a", "", "b"}));
  writeFile(m, "C:\\empty.txt", "");
  EXPECT_TRUE(readLines(m, "C:\\empty.txt").empty());
  EXPECT_EQ(fileSize(m, "C:\\lines.txt"), 6u);
  appendFile(m, "C:\\new.txt", "made by append");
  EXPECT_EQ(readFile(m, "C:\\NEW.TXT"), "made by append");
}

TEST_F(Files, ExistenceTests) {
  writeFile(m, "C:\\WINDOWS\\System.ini", "x");
  EXPECT_TRUE(fileExists(m, "C:\\windows\\system.ini"));
  EXPECT_FALSE(folderExists(m, "C:\\windows\\system.ini"));
  EXPECT_TRUE(folderExists(m, "C:\\Windows"));
  EXPECT_FALSE(fileExists(m, "C:\\Windows"));
  EXPECT_TRUE(pathExists(m, "C:\\"));
  for (const char* p : {"C:\\nothing", "C:\\nothing\\deeper", "D:\\x", "", "WINDOWS"}) {
    EXPECT_FALSE(pathExists(m, p)) << p;
    EXPECT_FALSE(fileExists(m, p)) << p;
  }
}

TEST_F(Files, FailuresCarryTheClassicNumbers) {
  writeFile(m, "C:\\file.txt", "x");
  struct Case {
    const char* what;
    std::function<void()> call;
    int error;
  } cases[] = {
      {"read missing", [&] { readFile(m, "C:\\missing.txt"); }, kFileNotFound},
      {"read in missing folder", [&] { readFile(m, "C:\\no\\such\\file.txt"); }, kPathNotFound},
      {"read a folder", [&] { readFile(m, "C:\\WINDOWS"); }, kPathFileAccess},
      {"write into missing folder", [&] { writeFile(m, "C:\\no\\file.txt", ""); }, kPathNotFound},
      {"write over a folder", [&] { writeFile(m, "C:\\WINDOWS", ""); }, kPathFileAccess},
      {"write a bad name", [&] { writeFile(m, "C:\\a?b.txt", ""); }, kBadFileNameSyntax},
      {"write a bad name", [&] { writeFile(m, "C:\\a<b>.txt", ""); }, kBadFileNameSyntax},
      {"write a too long name", [&] { writeFile(m, "C:\\" + std::string(256, 'x'), ""); }, kBadFileName},
      {"delete missing", [&] { deleteFile(m, "C:\\missing.txt"); }, kFileNotFound},
      {"delete no match", [&] { deleteFile(m, "C:\\*.none"); }, kFileNotFound},
      {"delete a folder", [&] { deleteFile(m, "C:\\WINDOWS"); }, kPathFileAccess},
      {"copy missing", [&] { copyFile(m, "C:\\missing.txt", "C:\\b.txt"); }, kFileNotFound},
      {"copy into missing folder", [&] { copyFile(m, "C:\\file.txt", "C:\\no\\b.txt"); }, kPathNotFound},
      {"rename onto existing", [&] { renameFile(m, "C:\\file.txt", "C:\\WINDOWS"); }, 58},
      {"rename missing", [&] { renameFile(m, "C:\\missing.txt", "C:\\b.txt"); }, kFileNotFound},
      {"rename to another drive", [&] { renameFile(m, "C:\\file.txt", "A:\\file.txt"); }, 74},
      {"make folder over a file", [&] { makeFolder(m, "C:\\file.txt\\sub"); }, kPathFileAccess},
      {"remove missing tree", [&] { removeTree(m, "C:\\missing"); }, kPathNotFound},
      {"attributes of missing", [&] { getAttributes(m, "C:\\missing"); }, kFileNotFound},
      {"date of missing", [&] { lastModified(m, "C:\\missing"); }, kFileNotFound},
      {"size of missing", [&] { fileSize(m, "C:\\missing"); }, kFileNotFound},
      {"unmapped drive", [&] { readFile(m, "Q:\\x"); }, kPathNotFound},
      {"no drive", [&] { readFile(m, "x.txt"); }, kBadFileNameSyntax},
  };
  for (const auto& c : cases) EXPECT_EQ(errorOf(c.call), c.error) << c.what;
  try {
    readFile(m, "C:\\WINDOWS\\missing.ini");
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "File not found: C:\\WINDOWS\\missing.ini");
  }
}

TEST_F(Files, AttributesRoundTrip) {
  writeFile(m, "C:\\f.dat", "x");
  EXPECT_EQ(getAttributes(m, "C:\\f.dat"), testsupport::attributesKept(m, 'C', kArchive));  // a written file
  EXPECT_EQ(getAttributes(m, "C:\\WINDOWS"), testsupport::attributesKept(m, 'C', kDirectory));
  for (uint8_t a : {uint8_t(kNormal), uint8_t(kReadOnly), uint8_t(kHidden | kSystem),
                    uint8_t(kReadOnly | kHidden | kSystem | kArchive), uint8_t(kArchive)}) {
    setAttributes(m, "C:\\f.dat", a);
    EXPECT_EQ(getAttributes(m, "C:\\F.DAT"), testsupport::attributesKept(m, 'C', a)) << int(a);
    struct stat st;
    ASSERT_EQ(::stat((tm.c() / "f.dat").c_str(), &st), 0);
    EXPECT_EQ((a & kReadOnly) != 0, (st.st_mode & S_IWUSR) == 0) << int(a);
  }
  setAttributes(m, "C:\\WINDOWS", kHidden | kReadOnly);
  EXPECT_EQ(getAttributes(m, "C:\\WINDOWS"), testsupport::attributesKept(m, 'C', kDirectory | kHidden | kReadOnly));
  writeFile(m, "C:\\WINDOWS\\inside.txt", "a read-only folder still takes files");
  // Writing keeps hidden and system and sets archive.
  setAttributes(m, "C:\\f.dat", kHidden | kSystem);
  writeFile(m, "C:\\f.dat", "y");
  EXPECT_EQ(getAttributes(m, "C:\\f.dat"), testsupport::attributesKept(m, 'C', kHidden | kSystem | kArchive));
}

TEST_F(Files, ReadOnlyFilesRefuseWritesAndDeletionEvenForRoot) {
  writeFile(m, "C:\\ro.txt", "keep");
  writeFile(m, "C:\\src.txt", "new");
  setAttributes(m, "C:\\ro.txt", kReadOnly);
  struct Case {
    const char* what;
    std::function<void()> call;
  } cases[] = {
      {"write", [&] { writeFile(m, "C:\\ro.txt", "x"); }},
      {"append", [&] { appendFile(m, "C:\\ro.txt", "x"); }},
      {"atomic write", [&] { writeFileAtomic(m, "C:\\ro.txt", "x"); }},
      {"copy onto", [&] { copyFile(m, "C:\\src.txt", "C:\\ro.txt"); }},
      {"delete", [&] { deleteFile(m, "C:\\ro.txt"); }},
      {"delete by wildcard", [&] { deleteFile(m, "C:\\r*.txt"); }},
  };
  for (const auto& c : cases) EXPECT_EQ(errorOf(c.call), kPathFileAccess) << c.what;
  EXPECT_EQ(readFile(m, "C:\\ro.txt"), "keep");
  // Renaming is allowed, as on Windows; so is clearing the attribute.
  renameFile(m, "C:\\ro.txt", "C:\\ro2.txt");
  setAttributes(m, "C:\\ro2.txt", kNormal);
  deleteFile(m, "C:\\ro2.txt");
  EXPECT_FALSE(pathExists(m, "C:\\ro2.txt"));
}

TEST_F(Files, DirListsInNameOrderUnderTheMask) {
  if (!testsupport::keepsExtendedAttributes(tm.c())) GTEST_SKIP() << testsupport::kNoExtendedAttributes;
  makeFolder(m, "C:\\d\\sub");
  for (const char* n : {"b.txt", "A.txt", "c.TXT", "D.txt", "e.log", "ro.txt"}) {
    writeFile(m, std::string("C:\\d\\") + n, "x");
  }
  setAttributes(m, "C:\\d\\c.TXT", kHidden);
  setAttributes(m, "C:\\d\\D.txt", kSystem | kHidden | kReadOnly);
  setAttributes(m, "C:\\d\\ro.txt", kReadOnly);
  makeFolder(m, "C:\\long");
  writeFile(m, "C:\\long\\notes.text", "x");  // NOTES~1.TEX
  using V = std::vector<std::string>;
  struct Case {
    const char* pattern;
    uint8_t mask;
    V names;
  } cases[] = {
      {"C:\\d\\*.txt", kNormal, V{"A.txt", "b.txt", "ro.txt"}},
      {"C:\\D\\*.TXT", kHidden, V{"A.txt", "b.txt", "c.TXT", "ro.txt"}},
      {"C:\\d\\*.txt", kHidden | kSystem, V{"A.txt", "b.txt", "c.TXT", "D.txt", "ro.txt"}},
      {"C:\\d\\*.txt", kSystem, V{"A.txt", "b.txt", "ro.txt"}},  // D is hidden too
      {"C:\\d\\*", kDirectory, V{"A.txt", "b.txt", "e.log", "ro.txt", "sub"}},
      {"C:\\d\\*.*", kNormal, V{"A.txt", "b.txt", "e.log", "ro.txt"}},
      {"C:\\d\\", kNormal, V{"A.txt", "b.txt", "e.log", "ro.txt"}},
      {"C:\\d\\?.txt", kNormal, V{"A.txt", "b.txt"}},
      {"C:\\d\\ro?.txt", kNormal, V{"ro.txt"}},
      {"C:\\d\\*.", kDirectory, V{"sub"}},
      {"C:\\d\\sub.*", kDirectory, V{"sub"}},
      {"C:\\long\\*.tex", kNormal, V{"notes.text"}},  // the short name fits
      {"C:\\long\\NOTES~?.*", kNormal, V{"notes.text"}},
      {"C:\\d\\b.TXT", kNormal, V{"b.txt"}},
      {"C:\\d\\c.txt", kNormal, V{}},
      {"C:\\d\\c.txt", kHidden, V{"c.TXT"}},
      {"C:\\d\\D.txt", kReadOnly | kHidden | kSystem, V{"D.txt"}},  // FileExists on a registry file
      {"C:\\d\\sub", kNormal, V{}},
      {"C:\\d\\sub", kDirectory, V{"sub"}},
      {"C:\\missing\\*.*", kNormal, V{}},
      {"C:\\d\\*.kvt", kNormal, V{}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dirAll(m, c.pattern, c.mask), c.names) << c.pattern << " mask " << int(c.mask);
  }
  DirEnum d;
  EXPECT_EQ(d.first(m, "C:\\d\\*.log"), "e.log");
  EXPECT_EQ(d.next(), "");
  EXPECT_EQ(d.next(), "");
}

TEST_F(Files, AtomicWritesLeaveNoTraceAndSetAttributes) {
  writeFile(m, "C:\\WINDOWS\\WinInit.ini", "old");
  writeFileAtomic(m, "C:\\windows\\wininit.ini", "[Rename]\r\n", kArchive | kHidden);
  EXPECT_EQ(readFile(m, "C:\\WINDOWS\\WinInit.ini"), "[Rename]\r\n");
  EXPECT_EQ(getAttributes(m, "C:\\WINDOWS\\WinInit.ini"), testsupport::attributesKept(m, 'C', kArchive | kHidden));
  writeFileAtomic(m, "C:\\WINDOWS\\System.dat", "REGEDIT4\r\n", kReadOnly | kHidden | kSystem);
  EXPECT_EQ(getAttributes(m, "C:\\WINDOWS\\System.dat"), testsupport::attributesKept(m, 'C', kReadOnly | kHidden | kSystem));
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(tm.c() / "WINDOWS")) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"System.dat", "WinInit.ini"}));
}

// Bytes made while they are written: the file appears whole under its name,
// and a maker that fails midway leaves the old file and no temporary.
TEST_F(Files, StreamedAtomicWritesReplaceOnlyWhenWhole) {
  writeFile(m, "C:\\WINDOWS\\User.dat", "old");
  std::string want;
  writeFileAtomicStreamed(m, "C:\\windows\\user.dat", kHidden | kSystem, [&](const PutBytes& put) {
    for (int i = 0; i < 3000; ++i) {  // a few megabytes in pieces of every size
      std::string piece(static_cast<size_t>(i % 7 == 0 ? 5000 : i), static_cast<char>('a' + i % 26));
      put(piece);
      want += piece;
    }
  });
  EXPECT_TRUE(readFile(m, "C:\\WINDOWS\\User.dat") == want);
  EXPECT_EQ(getAttributes(m, "C:\\WINDOWS\\User.dat"), testsupport::attributesKept(m, 'C', kHidden | kSystem));

  EXPECT_THROW(writeFileAtomicStreamed(m, "C:\\WINDOWS\\User.dat", kArchive,
                                       [&](const PutBytes& put) {
                                         put(std::string(3u << 20, 'x'));
                                         throw std::runtime_error("the maker failed");
                                       }),
               std::runtime_error);
  EXPECT_TRUE(readFile(m, "C:\\WINDOWS\\User.dat") == want);
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(tm.c() / "WINDOWS")) names.push_back(e.path().filename().string());
  EXPECT_EQ(names, (std::vector<std::string>{"User.dat"}));

  // A floppy's free space is checked against the whole before anything is written.
  m.setIni("Floppy", "Capacity", "1000");
  EXPECT_EQ(errorOf([&] {
              writeFileAtomicStreamed(m, "A:\\big.dat", kArchive, [](const PutBytes& put) {
                put(std::string(600, 'a'));
                put(std::string(600, 'b'));
              });
            }),
            kDiskFull);
  EXPECT_FALSE(pathExists(m, "A:\\big.dat"));
}

TEST_F(Files, CopyTakesAttributesAndTime) {
  writeFile(m, "C:\\src.dat", "payload");
  setLastModified(m, "C:\\src.dat", DateTime{2001, 9, 8, 7, 6, 5});
  setAttributes(m, "C:\\src.dat", kHidden | kSystem | kReadOnly);
  writeFile(m, "C:\\dst.dat", "old");
  copyFile(m, "C:\\src.dat", "C:\\DST.DAT");
  EXPECT_EQ(readFile(m, "C:\\dst.dat"), "payload");
  EXPECT_EQ(getAttributes(m, "C:\\dst.dat"), testsupport::attributesKept(m, 'C', kHidden | kSystem | kReadOnly));
  DateTime t = lastModified(m, "C:\\dst.dat");
  EXPECT_EQ(std::tie(t.year, t.month, t.day, t.hour, t.minute, t.second),
            std::make_tuple(2001, 9, 8, 7, 6, 5));
  EXPECT_TRUE(fs::exists(tm.c() / "dst.dat"));  // the stored name stays
}

TEST_F(Files, FoldersAndTrees) {
  makeFolder(m, "C:\\Program Files\\Brakvel 9x\\archive");
  makeFolder(m, "C:\\program files\\BRAKVEL 9X\\Archive");  // already there
  EXPECT_TRUE(folderExists(m, "C:\\PROGRA~1\\BRAKVE~1\\ARCHIVE"));
  writeFile(m, "C:\\Program Files\\Brakvel 9x\\archive\\a.kvt", "x");
  setAttributes(m, "C:\\Program Files\\Brakvel 9x\\archive\\a.kvt", kReadOnly | kHidden);
  removeTree(m, "C:\\Program Files\\Brakvel 9x");
  EXPECT_FALSE(pathExists(m, "C:\\Program Files\\Brakvel 9x"));
  EXPECT_TRUE(folderExists(m, "C:\\Program Files"));
  writeFile(m, "A:\\AUTOEXEC.BAT", "x");
  makeFolder(m, "A:\\sub");
  removeTree(m, "A:\\");
  EXPECT_TRUE(folderExists(m, "A:\\"));
  EXPECT_TRUE(dirAll(m, "A:\\*.*", kDirectory).empty());
}

TEST_F(Files, OddNamesDoNotBreakAnything) {
  const std::string names[] = {
      "name with  blanks.txt", "trailing dot.", "trailing blank ", "...dots...", "a.b.c.d",
      "M\xFCller & S\xF6hne \x80.txt", std::string(255, 'L'), std::string(250, 'x') + ".text",
      "UPPER.lower", "~1", "-.-"};
  for (const auto& n : names) {
    std::string path = "C:\\odd\\" + n;
    makeFolder(m, "C:\\odd");
    writeFile(m, path, n);
    EXPECT_TRUE(fileExists(m, path)) << n;
    std::string shortForm = m.shortPath(path);
    EXPECT_FALSE(shortForm.empty()) << n;
    EXPECT_EQ(readFile(m, shortForm), n) << n;
    EXPECT_EQ(dirAll(m, "C:\\odd\\*", kNormal).size(), 1u) << n;
    deleteFile(m, path);
    EXPECT_FALSE(pathExists(m, path)) << n;
  }
  // 255 characters that become more than 255 bytes on the host.
  EXPECT_EQ(errorOf([&] { writeFile(m, "C:\\" + std::string(255, '\xE9'), "x"); }), kBadFileName);
}

// --- floppy -----------------------------------------------------------------------

TEST(Floppy, NoDiskIsDiskNotReady) {
  TempMachine tm({.floppy = testsupport::Floppy::None});
  Machine m = tm.open();
  std::function<void()> calls[] = {
      [&] { readFile(m, "A:\\AUTOEXEC.BAT"); },
      [&] { writeFile(m, "A:\\AUTOEXEC.BAT", "x"); },
      [&] { makeFolder(m, "A:\\x"); },
      [&] { DirEnum().first(m, "A:\\*.*"); },
      [&] { freeSpace(m, 'A'); },
  };
  for (auto& call : calls) {
    try {
      call();
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kDiskNotReady);
      EXPECT_EQ(e.description(), "Disk not ready");
    }
  }
  EXPECT_FALSE(fileExists(m, "A:\\AUTOEXEC.BAT"));
  // Nothing put a disk into the drive.
  EXPECT_FALSE(fs::exists(tm.dir() / "drive_a"));
}

TEST(Floppy, WriteProtectionRefusesEveryChange) {
  TempMachine tm;
  Machine m = tm.open();
  writeFile(m, "A:\\old.txt", "x");
  m.setIni("Floppy", "WriteProtected", "1");
  std::function<void()> calls[] = {
      [&] { writeFile(m, "A:\\AUTOEXEC.BAT", "x"); },
      [&] { writeFileAtomic(m, "A:\\AUTOEXEC.BAT", "x"); },
      [&] { appendFile(m, "A:\\old.txt", "x"); },
      [&] { copyFile(m, "A:\\old.txt", "A:\\new.txt"); },
      [&] { deleteFile(m, "A:\\old.txt"); },
      [&] { renameFile(m, "A:\\old.txt", "A:\\new.txt"); },
      [&] { makeFolder(m, "A:\\sub"); },
      [&] { removeTree(m, "A:\\"); },
      [&] { setAttributes(m, "A:\\old.txt", kHidden); },
  };
  for (auto& call : calls) EXPECT_EQ(errorOf(call), kPermissionDenied);
  EXPECT_EQ(readFile(m, "A:\\old.txt"), "x");
  EXPECT_EQ(DirEnum().first(m, "A:\\*.*"), "old.txt");
  writeFile(m, "C:\\reading a floppy is fine.txt", readFile(m, "A:\\old.txt"));
}

TEST(Floppy, CapacityIsCheckedBeforeWriting) {
  TempMachine tm;
  Machine m = tm.open();
  EXPECT_EQ(freeSpace(m, 'A'), 1457664u);
  m.setIni("Floppy", "Capacity", "1000");
  writeFile(m, "A:\\one.bin", std::string(600, 'a'));
  EXPECT_EQ(freeSpace(m, 'a'), 400u);
  EXPECT_EQ(errorOf([&] { writeFile(m, "A:\\two.bin", std::string(600, 'b')); }), kDiskFull);
  EXPECT_FALSE(pathExists(m, "A:\\two.bin"));
  EXPECT_EQ(errorOf([&] { appendFile(m, "A:\\one.bin", std::string(401, 'c')); }), kDiskFull);
  EXPECT_EQ(fileSize(m, "A:\\one.bin"), 600u);
  writeFile(m, "C:\\big.bin", std::string(700, 'd'));
  EXPECT_EQ(errorOf([&] { copyFile(m, "C:\\big.bin", "A:\\big.bin"); }), kDiskFull);
  EXPECT_FALSE(pathExists(m, "A:\\big.bin"));
  // Replacing a file frees what it held.
  writeFileAtomic(m, "A:\\one.bin", std::string(1000, 'e'));
  EXPECT_EQ(freeSpace(m, 'A'), 0u);
  EXPECT_GT(freeSpace(m, 'C'), 0u);
}

// Whatever text the program hands over as a path, the platform answers or
// throws its own Error; nothing else escapes and nothing crashes.
TEST_F(Files, AnyTextAsAPathGetsAnAnswerOrAnError) {
  makeFolder(m, "C:\\Program Files\\Brakvel 9x");
  writeFile(m, "C:\\Program Files\\Brakvel 9x\\x.txt", "x");
  const std::string pieces[] = {"C:", "c:", "A:", "Z:", "\\", "/", "..", ".", "...", " ", "~", "~1",
                                "PROGRA~1", "Program Files", "BRAKVE~1", "x.txt", "*", "?", "*.*",
                                std::string(300, 'a'), "\xE9\xFC", "\x01", "\"", "<", ":", "|", "a b.c d"};
  const size_t n = std::size(pieces);
  uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245 + 12345, (seed >> 8) % n; };
  for (int i = 0; i < 600; ++i) {
    std::string path;
    int parts = 1 + static_cast<int>(next() % 6);
    for (int k = 0; k < parts; ++k) path += pieces[next()];
    std::function<void()> calls[] = {
        [&] { m.toHost(path); },
        [&] { m.shortPath(path); },
        [&] { m.longPath(path); },
        [&] { fileExists(m, path); },
        [&] { DirEnum().first(m, path, kDirectory | kHidden | kSystem); },
        [&] { readFile(m, path); },
        [&] { getAttributes(m, path); },
        [&] { writeFile(m, path, "y"); },
        [&] { makeFolder(m, path); },
        [&] { deleteFile(m, path); },
    };
    for (auto& call : calls) {
      try {
        call();
      } catch (const Error&) {
      } catch (const std::exception& e) {
        ADD_FAILURE() << "'" << path << "': " << e.what();
      }
    }
  }
  m.setIni("Floppy", "Capacity", "lots");
  EXPECT_EQ(freeSpace(m, 'A'), 1457664u);
}
