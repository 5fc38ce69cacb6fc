#include <gtest/gtest.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "tests/support/host_attributes.h"
#include "tests/support/test_machine.h"
#include "platform/files.h"
#include "platform/machine.h"

using namespace platform;
using TempMachine = testsupport::TestMachine;

namespace {

std::string shortNameIn(const Machine& m, const std::string& folder, const std::string& name) {
  return winBaseName(m.shortPath(winJoin(folder, name)));
}

}  // namespace

TEST(ShortNames, MadeAsVfatMakesThem) {
  struct Case {
    std::string longName, shortName;
  } cases[] = {
      {"Program Files", "PROGRA~1"},
      {"readme.txt", "README.TXT"},
      {"Exchange", "EXCHANGE"},
      {"My Document.text", "MYDOCU~1.TEX"},
      {".hidden", "HIDDEN~1"},
      {"a+b,c;d=e[f].txt", "A_B_C_~1.TXT"},
      {"long name.with.many dots.html", "LONGNA~1.HTM"},
      {"  lead blanks.doc", "LEADBL~1.DOC"},
      {"x.y z", "X~1.YZ"},
      {"G\xFCnter Gr\xE4" "fe.txt", "G\xDCNTER~1.TXT"},
      {"...", "_~1"},
      {"archive.kvt.bak", "ARCHIV~1.BAK"},
      {std::string(255, 'n'), "NNNNNN~1"},
      {"Brakvel 9x.exe", "BRAKVE~1.EXE"},
  };
  for (const auto& c : cases) {
    TempMachine tm;
    Machine m = tm.open();
    writeFile(m, "C:\\" + c.longName, "x");
    EXPECT_EQ(shortNameIn(m, "C:\\", c.longName), c.shortName) << c.longName;
    // ... and the short name finds the file again.
    EXPECT_EQ(m.longPath("C:\\" + c.shortName), "C:\\" + c.longName) << c.shortName;
  }
}

TEST(ShortNames, TailsCountUpAndShortenTheBase) {
  TempMachine tm;
  if (!testsupport::keepsExtendedAttributes(tm.c())) GTEST_SKIP() << testsupport::kNoExtendedAttributes;
  Machine m = tm.open();
  makeFolder(m, "C:\\Tails");
  for (int i = 1; i <= 11; ++i) {
    std::string name = "Program Files " + std::to_string(i);
    writeFile(m, "C:\\Tails\\" + name, "x");
    std::string expected = i < 10 ? "PROGRA~" + std::to_string(i) : "PROGR~" + std::to_string(i);
    EXPECT_EQ(shortNameIn(m, "C:\\Tails", name), expected);
  }
}

TEST(ShortNames, UnnamedEntriesAreNamedOldestFirst) {
  TempMachine tm;
  // Made on the host behind the machine's back, in this order.
  for (const char* n : {"Zebra Folder", "Zebra Alpha", "Zebra Middle"}) {
    fs::create_directory(tm.c() / n);
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
  }
  Machine m = tm.open();
  EXPECT_EQ(m.shortPath("C:\\Zebra Middle"), "C:\\ZEBRAM~1");
  EXPECT_EQ(m.shortPath("C:\\Zebra Folder"), "C:\\ZEBRAF~1");
  TempMachine tm2;
  for (const char* n : {"Same Stem B", "Same Stem A", "Same Stem C"}) {
    fs::create_directory(tm2.c() / n);
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
  }
  Machine m2 = tm2.open();
  EXPECT_EQ(m2.shortPath("C:\\Same Stem C"), "C:\\SAMEST~3");
  EXPECT_EQ(m2.shortPath("C:\\Same Stem B"), "C:\\SAMEST~1");
  EXPECT_EQ(m2.shortPath("C:\\Same Stem A"), "C:\\SAMEST~2");
}

TEST(ShortNames, StayWhileTheFileExistsAndFollowARename) {
  TempMachine tm;
  if (!testsupport::keepsExtendedAttributes(tm.c())) GTEST_SKIP() << testsupport::kNoExtendedAttributes;
  Machine m = tm.open();
  writeFile(m, "C:\\Long file name one.txt", "1");
  writeFile(m, "C:\\Long file name two.txt", "2");
  EXPECT_EQ(m.shortPath("C:\\Long file name one.txt"), "C:\\LONGFI~1.TXT");
  EXPECT_EQ(m.shortPath("C:\\Long file name two.txt"), "C:\\LONGFI~2.TXT");
  deleteFile(m, "C:\\Long file name one.txt");
  writeFile(m, "C:\\Long file name three.txt", "3");
  EXPECT_EQ(m.shortPath("C:\\Long file name three.txt"), "C:\\LONGFI~1.TXT");
  EXPECT_EQ(m.shortPath("C:\\Long file name two.txt"), "C:\\LONGFI~2.TXT");

  // Replacing a file keeps its short name; a new file would get ~3.
  writeFileAtomic(m, "C:\\Long file name two.txt", "2 again");
  EXPECT_EQ(m.shortPath("C:\\Long file name two.txt"), "C:\\LONGFI~2.TXT");
  copyFile(m, "C:\\Long file name three.txt", "C:\\LONGFI~2.TXT");
  EXPECT_EQ(readFile(m, "C:\\Long file name two.txt"), "3");
  EXPECT_EQ(m.shortPath("C:\\Long file name two.txt"), "C:\\LONGFI~2.TXT");

  // A renamed file gets a name made for its new long name.
  renameFile(m, "C:\\LONGFI~2.TXT", "C:\\Other long name.txt");
  EXPECT_EQ(m.shortPath("C:\\Other long name.txt"), "C:\\OTHERL~1.TXT");
  renameFile(m, "C:\\OTHERL~1.TXT", "C:\\Long file name four.txt");
  EXPECT_EQ(m.shortPath("C:\\Long file name four.txt"), "C:\\LONGFI~2.TXT");
  EXPECT_EQ(m.shortPath("C:\\Long file name three.txt"), "C:\\LONGFI~1.TXT");
}

TEST(ShortNames, ProcessesNamingAtOnceAgree) {
  TempMachine tm;
  std::vector<std::string> names;
  for (int i = 0; i < 24; ++i) {
    names.push_back("Concurrent entry " + std::to_string(i * 7 % 24) + ".data");
    std::ofstream(tm.c() / names.back()) << i;
  }
  const int kProcesses = 4;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      Machine m = tm.open();
      std::ofstream out(tm.dir() / ("result" + std::to_string(p)));
      // Each asks in another order.
      for (int i = 0; i < 24; ++i) {
        const std::string& n = names[static_cast<size_t>((i * (p + 1) * 5 + p) % 24)];
        out << n << "=" << m.shortPath("C:\\" + n) << "\n";
      }
      out.close();
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  Machine m = tm.open();
  std::set<std::string> seen;
  for (const auto& n : names) {
    std::string s = m.shortPath("C:\\" + n);
    EXPECT_TRUE(seen.insert(s).second) << "two files named " << s;
  }
  for (int p = 0; p < kProcesses; ++p) {
    std::ifstream in(tm.dir() / ("result" + std::to_string(p)));
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
      size_t eq = line.find('=');
      EXPECT_EQ(line.substr(eq + 1), m.shortPath("C:\\" + line.substr(0, eq))) << "process " << p;
      ++count;
    }
    EXPECT_EQ(count, 24);
  }
}

TEST(ShortNames, ACopyBringingATakenNameGetsItsOwn) {
  TempMachine tm;
  if (!testsupport::keepsExtendedAttributes(tm.c())) GTEST_SKIP() << testsupport::kNoExtendedAttributes;
  Machine m = tm.open();
  makeFolder(m, "C:\\one");
  makeFolder(m, "C:\\two");
  writeFile(m, "C:\\one\\Long name here.txt", "1");
  writeFile(m, "C:\\two\\Long name there.txt", "2");
  EXPECT_EQ(m.shortPath("C:\\one\\Long name here.txt"), "C:\\ONE\\LONGNA~1.TXT");
  EXPECT_EQ(m.shortPath("C:\\two\\Long name there.txt"), "C:\\TWO\\LONGNA~1.TXT");
  // Copied on the host with its extended attributes, as cp -a does.
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  fs::copy_file(tm.c() / "two/Long name there.txt", tm.c() / "one/Long name there.txt");
  char buf[256];
  ssize_t n = ::getxattr((tm.c() / "two/Long name there.txt").c_str(), "user.brakvel.short", buf, sizeof buf);
  ASSERT_GT(n, 0);
  ::setxattr((tm.c() / "one/Long name there.txt").c_str(), "user.brakvel.short", buf, static_cast<size_t>(n), 0);
  writeFile(m, "C:\\one\\Another long one.txt", "3");  // a new entry makes the folder be named again
  EXPECT_EQ(m.shortPath("C:\\one\\Another long one.txt"), "C:\\ONE\\ANOTHE~1.TXT");
  EXPECT_EQ(m.shortPath("C:\\one\\Long name here.txt"), "C:\\ONE\\LONGNA~1.TXT");
  EXPECT_EQ(m.shortPath("C:\\one\\Long name there.txt"), "C:\\ONE\\LONGNA~2.TXT");
  EXPECT_EQ(readFile(m, "C:\\one\\LONGNA~2.TXT"), "2");
}
