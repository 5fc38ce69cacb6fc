// The machine's tools on a machine whose C: is a FAT32 disk image and whose
// A: is a floppy image: started by the launcher from their stand-ins, as the
// program starts them, with mtools and fsck.fat checking what they leave.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <thread>
#include <vector>

#include "cab/stream.h"
#include "cab/writer.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/launcher.h"
#include "platform/machine.h"
#include "platform/registry/registry.h"
#include "platform/stand_in.h"
#include "tests/fat/support.h"

using namespace platform;
using namespace testing_fat;

namespace {

// A peer run to its end, within two minutes.
Result run(const std::vector<std::string>& argv) {
  return testsupport::run(argv, std::chrono::seconds(120), {.mergeOutput = true});
}

const std::string kUtil = "C:\\Program Files\\Brakvel 9x\\util";

// Bytes that do not compress, so that a cabinet holds as much as its files.
std::string noise(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen() & 0xFF);
  return s;
}

const std::string kOne = "one\r\ntwo\r\n";
const std::string kLong = noise(300000, 1);

class ImageMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    disk.path = dir / "disk.img";
    floppy.path = dir / "floppy.img";
    ASSERT_EQ(run({"mkfs.fat", "-F", "32", "-C", disk.path.string(), "65536"}).status, 0);
    ASSERT_EQ(run({"mkfs.fat", "-C", floppy.path.string(), "1440"}).status, 0);
    std::ofstream(dir / "machine.ini") << "[Machine]\r\nVersion=98\r\n\r\n"
                                          "[Drives]\r\nC=disk.img\r\nA=floppy.img\r\n\r\n"
                                          "[Environment]\r\nWinDir=C:\\WINDOWS\r\n"
                                          "PATH=C:\\WINDOWS;C:\\WINDOWS\\COMMAND\r\n";
    m.emplace(Machine::open(dir.path()));
    const std::pair<const char*, std::string> tools[] = {
        {"pux", kUtil + "\\pux.exe"},
        {"makecab", kUtil + "\\Makecab.exe"},
        {"regedit", "C:\\WINDOWS\\REGEDIT.EXE"},
        {"rundll32", "C:\\WINDOWS\\RUNDLL32.EXE"},
        {"winhelp", "C:\\WINDOWS\\WINHLP32.EXE"},
        {"msinfo32", "C:\\Program Files\\Common Files\\Microsoft Shared\\MSINFO\\MSINFO32.EXE"},
    };
    for (const auto& [tool, path] : tools) {
      makeFolder(*m, winDirName(path));
      writeFile(*m, path, standInBytes(tool));
    }
    makeFolder(*m, "C:\\DATA");
    writeFile(*m, "C:\\DATA\\One.txt", kOne);
    writeFile(*m, "C:\\DATA\\Long file name.txt", kLong);
  }

  // A command line run as the program runs it: through the launcher, hidden.
  FinishedWindow launch(const std::string& line) {
    WindowTable windows;
    Launcher l(*m, windows);
    JobId job = l.start(line, WindowStyle::Hide);
    EXPECT_TRUE(l.wait(job, 60000)) << line;
    for (auto& w : windows.all())
      if (w.job == job) return w;
    ADD_FAILURE() << "no window for " << line;
    return {};
  }

  // C:\ARCHIVE\backup.kvt of the two files, made by Makecab.
  void makeArchive() {
    makeFolder(*m, "C:\\ARCHIVE");
    writeFile(*m, "C:\\DATA\\make.ddf",
              ".OPTION EXPLICIT\r\n"
              ".Set DiskDirectoryTemplate=C:\\ARCHIVE\r\n"
              ".Set CabinetNameTemplate=backup.kvt\r\n"
              ".Set CompressionType=MSZIP\r\n"
              "\"C:\\DATA\\One.txt\"\r\n"
              "\"C:\\DATA\\Long file name.txt\"\r\n");
    FinishedWindow w = launch("\"" + kUtil + "\\Makecab.exe\" /f C:\\DATA\\make.ddf");
    ASSERT_EQ(w.exitStatus, 0) << w.output;
  }

  std::string onImage(const Image& img, const std::string& dosPath) {
    return mtools("mcopy", img, {"-n", dosPath, "-"}).out;
  }

  // The short names of a folder as mtools lists them, each followed by a blank.
  static std::string names(const Image& img, const std::string& dosPath) {
    std::string all;
    for (const MdirLine& l : mdir(img, dosPath)) all += l.shortName + " ";
    return all;
  }

  void expectClean(const Image& img) {
    std::string report;
    EXPECT_TRUE(fsckClean(img, &report)) << report;
  }

  TempDir dir;
  Image disk, floppy;
  std::optional<Machine> m;
};

TEST_F(ImageMachine, MakecabAndPuxWorkOnTheImages) {
  makeArchive();
  // The cabinet the peer reads.
  spit(dir / "backup.kvt", onImage(disk, "::/ARCHIVE/backup.kvt"));
  Result test = run({"cabextract", "-t", (dir / "backup.kvt").string()});
  EXPECT_EQ(test.status, 0) << test.out;

  struct {
    const char* where;
    std::string folder;  // given to pux
    Image* img;
    std::string dos;  // the folder as mtools names it
  } cases[] = {
      {"a folder on C:", "C:\\OUT", &disk, "::/OUT/"},
      {"the floppy", "A:\\", &floppy, "::/"},
  };
  makeFolder(*m, "C:\\OUT");
  for (auto& c : cases) {
    SCOPED_TRACE(c.where);
    FinishedWindow w = launch("C:\\PROGRA~1\\BRAKVE~1\\util\\pux.exe C:\\ARCHIVE\\backup.kvt /Y /E /L " + c.folder);
    ASSERT_EQ(w.exitStatus, 0) << w.output;
    EXPECT_NE(w.output.find("pux: " + winJoin(c.folder, "Long file name.txt")), std::string::npos) << w.output;
    EXPECT_EQ(onImage(*c.img, c.dos + "One.txt"), kOne);
    EXPECT_EQ(onImage(*c.img, c.dos + "Long file name.txt"), kLong);
    expectClean(*c.img);
  }
  expectClean(disk);
}

TEST_F(ImageMachine, AProgramOnTheImageThatStandsInForNoBuiltOneIsNotRun) {
  makeFolder(*m, "C:\\UTIL");
  writeFile(*m, "C:\\UTIL\\ODD.EXE", "MZ" + noise(500, 3));
  writeFile(*m, "C:\\UTIL\\GONE.EXE", standInBytes("no-such-tool"));
  WindowTable windows;
  Launcher l(*m, windows);
  for (const char* line : {"C:\\UTIL\\ODD.EXE /x", "C:\\UTIL\\GONE"}) {
    SCOPED_TRACE(line);
    try {
      l.start(line, WindowStyle::Hide);
      ADD_FAILURE() << "started";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kPathFileAccess);
    }
  }
  EXPECT_TRUE(windows.all().empty());
}

TEST_F(ImageMachine, MakecabKeepsOffTheDirectiveInAnyNameForm) {
  const std::string directive =
      ".Set DiskDirectoryTemplate=c:\\data\r\n.Set CabinetNameTemplate=MAKE.DDF\r\n\"C:\\DATA\\One.txt\"\r\n";
  writeFile(*m, "C:\\DATA\\make.ddf", directive);
  FinishedWindow w = launch(kUtil + "\\Makecab.exe /f C:\\DATA\\make.ddf");
  EXPECT_EQ(w.exitStatus, 1) << w.output;
  EXPECT_NE(w.output.find("would replace the directive itself; nothing written"), std::string::npos) << w.output;
  EXPECT_EQ(onImage(disk, "::/DATA/make.ddf"), directive);
  expectClean(disk);
}

// The value Name of HKEY_LOCAL_MACHINE\Software\Vantrel, or "" when absent.
std::string vantrelName(reg::Registry& r) {
  reg::HKEY h = 0;
  if (r.RegOpenKeyEx(reg::HKEY_LOCAL_MACHINE, "Software\\Vantrel", 0x20019, &h) != reg::ERROR_SUCCESS) return {};
  char data[64] = {};
  uint32_t type = 0, size = sizeof data;
  long rc = r.RegQueryValueEx(h, "Name", &type, data, &size);
  r.RegCloseKey(h);
  return rc == reg::ERROR_SUCCESS ? std::string(data) : std::string();
}

std::string script(const std::string& name) {
  return "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Vantrel]\r\n\"Name\"=\"" + name +
         "\"\r\n\r\n[HKEY_CURRENT_USER\\Software\\Vantrel]\r\n\"Count\"=dword:00000007\r\n\r\n";
}

TEST_F(ImageMachine, RegeditImportsAndExportsTheHivesOnTheImage) {
  reg::Registry registry(*m);  // kept open: it must see what regedit changes
  EXPECT_EQ(vantrelName(registry), "");
  writeFile(*m, "C:\\DATA\\in.reg", script("Brakvel"));
  FinishedWindow w = launch("regedit /s C:\\DATA\\in.reg");
  ASSERT_EQ(w.exitStatus, 0) << w.output;
  EXPECT_EQ(onImage(disk, "::/WINDOWS/SYSTEM.DAT").substr(0, 4), "CREG");
  EXPECT_EQ(onImage(disk, "::/WINDOWS/USER.DAT").substr(0, 4), "CREG");
  EXPECT_EQ(vantrelName(registry), "Brakvel");
  // The same size again, within the two seconds an image's times can tell.
  writeFile(*m, "C:\\DATA\\in.reg", script("Vantrel"));
  w = launch("regedit /s C:\\DATA\\in.reg");
  ASSERT_EQ(w.exitStatus, 0) << w.output;
  EXPECT_EQ(vantrelName(registry), "Vantrel");

  w = launch("regedit /e C:\\DATA\\out.reg HKEY_LOCAL_MACHINE\\Software\\Vantrel");
  ASSERT_EQ(w.exitStatus, 0) << w.output;
  EXPECT_NE(onImage(disk, "::/DATA/out.reg").find("\"Name\"=\"Vantrel\""), std::string::npos);
  // A bare name is taken in the folder programs start in: the Windows folder.
  w = launch("regedit /e vantrel.reg HKEY_CURRENT_USER\\Software\\Vantrel");
  ASSERT_EQ(w.exitStatus, 0) << w.output;
  EXPECT_NE(onImage(disk, "::/WINDOWS/vantrel.reg").find("\"Count\"=dword:00000007"), std::string::npos);
  expectClean(disk);
}

TEST_F(ImageMachine, TheRestartCarriesOutWinInitOnTheImage) {
  writeFile(*m, "C:\\WINDOWS\\NEW.TXT", "new");
  writeFile(*m, "C:\\WINDOWS\\OLD.TXT", "old");
  writeFile(*m, "C:\\WINDOWS\\GONE.TXT", "gone");
  writeFile(*m, "C:\\WINDOWS\\WinInit.ini",
            "[Rename]\r\nC:\\WINDOWS\\OLD.TXT=C:\\WINDOWS\\NEW.TXT\r\nNUL=C:\\WINDOWS\\GONE.TXT\r\n");
  FinishedWindow w = launch("RUNDLL32.EXE shell32.dll,SHExitWindowsEx 2");
  ASSERT_EQ(w.exitStatus, 0) << w.output;
  EXPECT_EQ(onImage(disk, "::/WINDOWS/OLD.TXT"), "new");
  std::string left = names(disk, "::/WINDOWS");
  EXPECT_EQ(left.find("NEW.TXT"), std::string::npos) << left;
  EXPECT_EQ(left.find("GONE.TXT"), std::string::npos) << left;
  EXPECT_EQ(left.find("WININIT.INI"), std::string::npos) << left;
  EXPECT_NE(left.find("WININIT.BAK"), std::string::npos) << left;
  expectClean(disk);
}

TEST_F(ImageMachine, TheHelpViewerAndTheSystemReportReadTheImage) {
  writeFile(*m, "C:\\Program Files\\Brakvel 9x\\BRAKVEL 9X.hlp",
            "#HELP Brakvel 9x Help\r\n#CONTENTS\r\nKeeps Windows recoverable.\r\n"
            "#TOPIC 7 Rescue disks\r\nA rescue disk starts the machine.\r\n");
  writeFile(*m, "C:\\DATA\\in.reg", script("Brakvel"));
  ASSERT_EQ(launch("regedit /s C:\\DATA\\in.reg").exitStatus, 0);
  const std::string msinfo = "\"C:\\Program Files\\Common Files\\Microsoft Shared\\MSINFO\\MSINFO32.EXE\" --print";
  struct {
    std::string line;
    int status;
    std::vector<std::string> shown;
  } cases[] = {
      {"WINHLP32.EXE --print -n 7 \"C:\\PROGRA~1\\BRAKVE~1\\BRAKVEL 9X.hlp\"", 0,
       {"A rescue disk starts the machine."}},
      {"WINHLP32.EXE --print C:\\PROGRA~1\\BRAKVE~1\\NONE.HLP", 1,
       {"winhelp: cannot open the help file C:\\PROGRA~1\\BRAKVE~1\\NONE.HLP"}},
      {msinfo, 0, {"Microsoft Windows 98", "C:  fixed disk, ", "A:  3 1/2 inch floppy, ", "System.dat"}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.line);
    FinishedWindow w = launch(c.line);
    EXPECT_EQ(w.exitStatus, c.status) << w.output;
    for (const std::string& s : c.shown) EXPECT_NE(w.output.find(s), std::string::npos) << s << "\n" << w.output;
  }
}

TEST_F(ImageMachine, PuxOntoAFloppyThatCannotTakeItWritesNothing) {
  makeArchive();
  struct {
    const char* what;
    std::function<void()> prepare;
    int status;
    const char* message;
  } cases[] = {
      {"no disk", [&] { fs::remove(floppy.path); }, 1, "there is no disk in drive A:"},
      {"write-protected", [&] { ::chmod(floppy.path.c_str(), 0444); }, 4,
       "A:\\: the disk in A: is write-protected; nothing extracted"},
      {"full",
       [&] {
         spit(dir / "fill.bin", noise(1300000, 2));
         ASSERT_EQ(mtools("mcopy", floppy, {(dir / "fill.bin").string(), "::/FILL.BIN"}).status, 0);
       },
       3, "the disk in A: is full; nothing extracted"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(floppy.path);
    ASSERT_EQ(run({"mkfs.fat", "-C", floppy.path.string(), "1440"}).status, 0);
    spit(dir / "old.txt", "old");
    ASSERT_EQ(mtools("mcopy", floppy, {(dir / "old.txt").string(), "::/ONE.TXT"}).status, 0);
    c.prepare();
    FinishedWindow w = launch(kUtil + "\\pux.exe C:\\ARCHIVE\\backup.kvt /Y /E /L A:\\");
    EXPECT_EQ(w.exitStatus, c.status) << w.output;
    EXPECT_NE(w.output.find(c.message), std::string::npos) << w.output;
    EXPECT_EQ(w.output.find("pux: A:\\One.txt"), std::string::npos) << w.output;
    if (!fs::exists(floppy.path)) continue;
    EXPECT_EQ(onImage(floppy, "::/ONE.TXT"), "old");
    EXPECT_EQ(names(floppy, "::/").find("LONGFI"), std::string::npos);
    expectClean(floppy);
  }
}

// A rescue preparation killed at any moment: pux putting a set onto the
// floppy image leaves each file one version whole and lost clusters at
// worst; the next session finds one set whole, and fsck.fat nothing.
TEST_F(ImageMachine, AnExtractionOntoTheFloppyKilledAtAnyMomentLeavesOneSetWhole) {
  const std::vector<std::string> members{"SYSTEM.DAT", "USER.DAT", "SYSTEM.INI", "WIN.INI"};
  std::vector<std::string> bytes[2];
  makeFolder(*m, "C:\\ARCHIVE");
  for (int g = 0; g < 2; ++g) {
    std::vector<cab::Source> sources;
    for (size_t i = 0; i < members.size(); ++i) {
      bytes[g].push_back(noise(i < 2 ? 150000 : 3000, static_cast<unsigned>(100 * g + i)));
      cab::Source src;
      src.name = src.label = members[i];
      src.data = std::make_unique<cab::MemoryInStream>(bytes[g].back());
      src.year = 1999 + g;
      sources.push_back(std::move(src));
    }
    cab::MemoryOutStream out;
    cab::write(sources, out, {});
    writeFile(*m, "C:\\ARCHIVE\\gen" + std::to_string(g) + ".kvt", out.bytes());
  }
  const fs::path journal = floppy.path.string() + ".journal";
  auto start = [&](int g) {
    return std::make_unique<testsupport::Child>(
        std::vector<std::string>{PUX_EXE, "C:\\ARCHIVE\\gen" + std::to_string(g) + ".kvt", "/Y", "/E", "/L", "A:\\"},
        testsupport::Child::Output::Discard, testsupport::RunOptions{.machine = dir.path()});
  };
  // The generation a file holds as mtools reads it; -1 for neither.
  auto versionOnImage = [&](size_t i) {
    std::string got = mtools("mtype", floppy, {"::/" + members[i]}).out;
    for (int g = 0; g < 2; ++g)
      if (got == bytes[g][i]) return g;
    return -1;
  };
  // The generation the floppy holds as a new session of ours finds it; -1 for a mix.
  auto holds = [&] {
    Machine fresh = Machine::open(dir.path());
    int first = -2;
    for (size_t i = 0; i < members.size(); ++i) {
      std::string got = fileExists(fresh, "A:\\" + members[i]) ? readFile(fresh, "A:\\" + members[i]) : "";
      int g = got == bytes[0][i] ? 0 : got == bytes[1][i] ? 1 : -1;
      if (first == -2) first = g;
      if (g != first) return -1;
    }
    return first;
  };
  ASSERT_EQ(start(0)->wait(std::chrono::seconds(60)), 0);
  ASSERT_EQ(holds(), 0);
  const auto began = std::chrono::steady_clock::now();
  ASSERT_EQ(start(1)->wait(std::chrono::seconds(60)), 0);
  const auto runTime = std::chrono::steady_clock::now() - began;
  ASSERT_EQ(holds(), 1);

  std::mt19937 random(1998);
  std::uniform_real_distribution<double> within(0.0, 2.0);
  int current = 1, old = 0, fresh = 0, inCommit = 0;
  for (int trial = 0; trial < 20; ++trial) {
    auto pending = start(1 - current);
    if (trial % 2 == 0) {
      std::this_thread::sleep_for(std::chrono::duration_cast<std::chrono::microseconds>(runTime * within(random)));
    } else {
      // Every other kill waits for the set's commit to begin.
      const auto until = std::chrono::steady_clock::now() + 3 * runTime + std::chrono::seconds(1);
      while (!fs::exists(journal) && std::chrono::steady_clock::now() < until) {
      }
    }
    pending->kill();
    inCommit += fs::exists(journal);
    EXPECT_EQ(fsckBeyondKill(floppy), "") << "trial " << trial;
    for (size_t i = 0; i < members.size(); ++i)
      EXPECT_NE(versionOnImage(i), -1) << members[i] << " is no version whole after trial " << trial;
    const int now = holds();
    ASSERT_NE(now, -1) << "trial " << trial << ": a mixed set";
    (now == current ? old : fresh) += 1;
    current = now;
    std::string report;
    EXPECT_TRUE(fsckClean(floppy, &report)) << "trial " << trial << ":\n" << report;
    EXPECT_FALSE(fs::exists(journal)) << "trial " << trial;
  }
  RecordProperty("old", old);
  RecordProperty("fresh", fresh);
  RecordProperty("inCommit", inCommit);
  // Kills landed before the set was in place, after it, and inside its commit.
  EXPECT_GT(old, 0);
  EXPECT_GT(fresh, 0);
  EXPECT_GT(inCommit, 0);
  EXPECT_EQ(names(floppy, "::/"), "SYSTEM.DAT USER.DAT SYSTEM.INI WIN.INI ");
}

}  // namespace
