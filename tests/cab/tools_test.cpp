// Makecab and pux as the program runs them: real processes on a real
// temporary machine (or host paths), checked against the peers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "cab/reader.h"
#include "tests/support/host_attributes.h"
#include "cab/writer.h"
#include "platform/files.h"
#include "platform/process.h"
#include "support.h"
#include "tests/support/test_machine.h"

using namespace cabtest;

namespace {

const std::string kMakecab = MAKECAB_EXE;
const std::string kPux = PUX_EXE;
const char* kSet[] = {"Classes.dat", "System.dat", "User.dat", "System.ini", "Win.ini", "info.txt"};

// kvt.ddf exactly as the program writes it.
std::string programDirective(const std::string& p, const std::string& name, bool classes) {
  std::string t;
  auto line = [&](const std::string& s) { t += s + "\r\n"; };
  line(".OPTION EXPLICIT");
  line(".Set Cabinet=on");
  line(".set Compress=on");
  line(".Set MaxDiskSize=CDROM");
  line(".set ReservePerCabinetSize=6144");
  line(".Set DiskDirectoryTemplate=" + p + "\\archive");
  line(".Set CompressionType=MSZip");
  line(".Set CompressionLevel=7");
  line(".Set CompressionMemory=21");
  line(".Set CabinetNameTemplate=" + name + ".kvt");
  for (const char* f : kSet)
    if (classes || std::string(f) != "Classes.dat") line("\"" + p + "\\Exchange\\" + f + "\"");
  return t;
}

std::string sourceBytes(const std::string& member) {
  if (member == "System.dat") return registryText(700000, 1);
  if (member == "User.dat") return registryText(90000, 2);
  if (member == "Classes.dat") return registryText(250000, 3);
  if (member == "info.txt") return "Created : 12/10/2026 03:40:00\r\nPrograms:\r\n";
  return "[boot]\r\nshell=Explorer.exe\r\n";
}

// A tool started on the machine without a shell, so that it can be killed.
std::unique_ptr<testsupport::Child> spawn(const fs::path& machine, const std::vector<std::string>& argv) {
  return std::make_unique<testsupport::Child>(argv, testsupport::Child::Output::Discard,
                                              testsupport::RunOptions{.machine = machine});
}

class MachineTools : public testing::Test {
 protected:
  void SetUp() override { useFolder("C:\\Program Files\\Brakvel 9x"); }

  void useFolder(const std::string& p) {
    P = p;
    m = tm.open();
    fs::path h = m->toHost(P);
    for (const char* sub : {"util", "archive", "Exchange", "Rescue"}) fs::create_directories(h / sub);
    for (const char* f : kSet) platform::writeFile(*m, P + "\\Exchange\\" + f, sourceBytes(f));
    m = tm.open();
  }

  Ran tool(const std::string& exe, const std::vector<std::string>& args) {
    std::vector<std::string> argv{exe};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, kToolBudget, {.machine = tm.dir(), .mergeOutput = true});
  }

  Ran makecab(const std::string& name, bool classes) {
    platform::writeFile(*m, P + "\\util\\kvt.ddf", programDirective(P, name, classes));
    return tool(kMakecab, {"/f", P + "\\util\\kvt.ddf"});
  }

  fs::path host(const std::string& win) { return m->toHost(win); }

  testsupport::TestMachine tm;
  std::optional<platform::Machine> m;
  std::string P;
};

struct ProgramCase {
  const char* what;
  const char* folder;
  const char* name;
  bool classes;
};

class ProgramDirectives : public MachineTools, public testing::WithParamInterface<ProgramCase> {};

TEST_P(ProgramDirectives, MakeTheArchiveThePeersAcceptAndPuxGivesBack) {
  const ProgramCase& c = GetParam();
  if (std::string(c.folder) != P) useFolder(c.folder);
  Ran r = makecab(c.name, c.classes);
  ASSERT_EQ(r.status, 0) << r.out;
  std::string archive = P + "\\archive\\" + c.name + ".kvt";
  fs::path file = host(archive);
  ASSERT_TRUE(fs::exists(file)) << file;
  EXPECT_EQ(listFolder(file.parent_path()), std::vector<std::string>{std::string(c.name) + ".kvt"});

  std::string bytes = slurp(file);
  EXPECT_EQ(static_cast<uint8_t>(bytes[30]) & 4, 4);  // reserve present
  EXPECT_EQ(static_cast<uint8_t>(bytes[36]) | (static_cast<uint8_t>(bytes[37]) << 8), 6144);
  cab::Reader reader(std::make_unique<cab::MemoryInStream>(bytes), "archive");
  std::vector<std::string> names, expected;
  for (auto& mem : reader.members()) {
    names.push_back(mem.name);
    EXPECT_EQ(mem.method, "MSZIP");
  }
  for (const char* f : kSet)
    if (c.classes || std::string(f) != "Classes.dat") expected.push_back(f);
  EXPECT_EQ(names, expected);

  if (haveProgram("cabextract") && haveProgram("gcab")) {
    Ran t1 = run({"cabextract", "-t", file.string()}, kToolBudget, kMerged);
    EXPECT_EQ(t1.status, 0) << t1.out;
    Ran t2 = run({"gcab", "-t", file.string()}, kToolBudget, kMerged);
    EXPECT_EQ(t2.status, 0) << t2.out;
    TempDir out;
    Ran x = run({"gcab", "-x", "-C", out.path().string(), file.string()}, kToolBudget, kMerged);
    ASSERT_EQ(x.status, 0) << x.out;
    for (auto& n : expected) EXPECT_EQ(slurp(out / n), sourceBytes(n)) << n;
  }

  // The program's all-members shape, short paths, no trailing backslash.
  std::string k = m->shortPath(archive), s = m->shortPath(P);
  ASSERT_FALSE(k.empty());
  Ran all = tool(kPux, {k, "/Y", "/E", "/L", s + "\\Rescue"});
  ASSERT_EQ(all.status, 0) << all.out;
  for (auto& n : expected) EXPECT_EQ(slurp(host(P + "\\Rescue\\" + n)), sourceBytes(n)) << n;
  EXPECT_EQ(listFolder(host(P + "\\Rescue")).size(), expected.size());

  // The one-member shape.
  platform::deleteFile(*m, P + "\\Exchange\\info.txt");
  Ran one = tool(kPux, {k, "/Y", "/L", s + "\\Exchange", "info.txt"});
  ASSERT_EQ(one.status, 0) << one.out;
  EXPECT_EQ(slurp(host(P + "\\Exchange\\info.txt")), sourceBytes("info.txt"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgramDirectives,
    testing::Values(ProgramCase{"with_classes_dat", "C:\\Program Files\\Brakvel 9x", "Backup 1", true},
                    ProgramCase{"without_classes_dat", "C:\\Program Files\\Brakvel 9x", "Before update", false},
                    ProgramCase{"empty_name", "C:\\Program Files\\Brakvel 9x", "", true},
                    ProgramCase{"short_folder", "C:\\BRAKVEL", "monday", false}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(MachineTools, ArchiveIsReplacedOnlyByACompleteCabinetAndKeepsItsShortName) {
  if (!testsupport::keepsExtendedAttributes(tm.dir())) GTEST_SKIP() << testsupport::kNoExtendedAttributes;
  ASSERT_EQ(makecab("Backup 1", true).status, 0);
  ASSERT_EQ(makecab("Backup 2", true).status, 0);
  std::string second = P + "\\archive\\Backup 2.kvt";
  std::string shortName = m->shortPath(second);
  EXPECT_EQ(platform::winBaseName(shortName), "BACKUP~2.KVT");
  platform::deleteFile(*m, P + "\\archive\\Backup 1.kvt");

  platform::writeFile(*m, P + "\\Exchange\\System.dat", "changed");
  ASSERT_EQ(makecab("Backup 2", true).status, 0);
  EXPECT_EQ(m->shortPath(second), shortName);
  std::string good = slurp(host(second));
  EXPECT_EQ(readCabinet(good)[1].second, "changed");

  platform::deleteFile(*m, P + "\\Exchange\\User.dat");
  Ran r = makecab("Backup 2", true);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("kvt.ddf:13: cannot read C:\\Program Files\\Brakvel 9x\\Exchange\\User.dat"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(slurp(host(second)), good);
  EXPECT_EQ(listFolder(host(P + "\\archive")), std::vector<std::string>{"Backup 2.kvt"});
}

struct BadRun {
  const char* what;
  void (*prepare)(platform::Machine&, const std::string& p, std::string& directive);
  const char* message;
};

class MakecabBadInput : public MachineTools, public testing::WithParamInterface<BadRun> {};

TEST_P(MakecabBadInput, FailsNamingTheFaultAndLeavesNothing) {
  std::string directive = programDirective(P, "x", false);
  GetParam().prepare(*m, P, directive);
  platform::writeFile(*m, P + "\\util\\kvt.ddf", directive);
  Ran r = tool(kMakecab, {"/F", P + "\\util\\kvt.ddf"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find(GetParam().message), std::string::npos) << r.out;
  if (fs::exists(host(P + "\\archive"))) {
    EXPECT_EQ(listFolder(host(P + "\\archive")), std::vector<std::string>{});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MakecabBadInput,
    testing::Values(
        BadRun{"missing_source",
               [](platform::Machine& m, const std::string& p, std::string&) {
                 platform::deleteFile(m, p + "\\Exchange\\Win.ini");
               },
               "kvt.ddf:14: cannot read C:\\Program Files\\Brakvel 9x\\Exchange\\Win.ini"},
        BadRun{"unknown_variable",
               [](platform::Machine&, const std::string&, std::string& d) { d.insert(18, ".Set Compresion=on\r\n"); },
               "kvt.ddf:2: unknown variable \"Compresion\""},
        BadRun{"malformed_line",
               [](platform::Machine&, const std::string&, std::string& d) { d += "\"unclosed\r\n"; },
               "kvt.ddf:16: a double quote is not closed"},
        BadRun{"missing_target_folder",
               [](platform::Machine& m, const std::string& p, std::string&) {
                 fs::remove_all(m.toHost(p + "\\archive"));
               },
               "kvt.ddf:6: the folder C:\\Program Files\\Brakvel 9x\\archive does not exist"},
        BadRun{"does_not_fit",
               [](platform::Machine&, const std::string&, std::string& d) { d += ".Set MaxDiskSize=20000\r\n"; },
               "more than MaxDiskSize allows"},
        BadRun{"replaces_a_read_only_file",
               [](platform::Machine& m, const std::string& p, std::string& d) {
                 platform::writeFile(m, "C:\\WINDOWS\\System.dat", "the live registry");
                 platform::setAttributes(m, "C:\\WINDOWS\\System.dat",
                                         platform::kReadOnly | platform::kHidden | platform::kSystem);
                 d = programDirective(p, "x", false);
                 d.replace(d.find(".Set DiskDirectoryTemplate="), d.find("\r\n.Set CompressionType") -
                                                                    d.find(".Set DiskDirectoryTemplate="),
                           ".Set DiskDirectoryTemplate=C:\\WINDOWS");
                 d.replace(d.find("x.kvt"), 5, "System.dat");
               },
               "kvt.ddf:10: the cabinet C:\\WINDOWS\\System.dat exists and is read-only; it is not replaced"},
        BadRun{"replaces_the_directive",
               [](platform::Machine&, const std::string& p, std::string& d) {
                 d.replace(d.find("archive\r\n"), 7, "util");
                 d.replace(d.find("x.kvt"), 5, "kvt.ddf");
                 (void)p;
               },
               "kvt.ddf:10: the cabinet C:\\Program Files\\Brakvel 9x\\util\\kvt.ddf would replace the directive "
               "itself; nothing written"},
        BadRun{"replaces_a_source",
               [](platform::Machine&, const std::string&, std::string& d) {
                 d.replace(d.find("archive\r\n"), 7, "Exchange");
                 d.replace(d.find("x.kvt"), 5, "WIN.INI");
               },
               "kvt.ddf:10: the cabinet C:\\Program Files\\Brakvel 9x\\Exchange\\WIN.INI would replace "
               "C:\\Program Files\\Brakvel 9x\\Exchange\\Win.ini, a source of this cabinet; nothing written"},
        BadRun{"source_is_a_folder",
               [](platform::Machine&, const std::string& p, std::string& d) { d += "\"" + p + "\\Rescue\"\r\n"; },
               "kvt.ddf:16: cannot read C:\\Program Files\\Brakvel 9x\\Rescue"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(MachineTools, MissingDirectiveAndBadCommandLinesFail) {
  Ran r = tool(kMakecab, {"/f", P + "\\util\\nothing.ddf"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("nothing.ddf"), std::string::npos) << r.out;
  EXPECT_NE(tool(kMakecab, {}).status, 0);
  EXPECT_NE(tool(kPux, {}).status, 0);
  EXPECT_NE(tool(kPux, {"x.cab", "/Q"}).status, 0);
}

TEST_F(MachineTools, PuxGivesMembersTheirDateTimeAndAttributes) {
  cab::Source s;
  s.name = "System.dat";
  s.label = s.name;
  std::string bytes = registryText(5000, 4);
  s.data = std::make_unique<cab::MemoryInStream>(bytes);
  s.attributes = platform::kHidden | platform::kSystem | platform::kReadOnly | platform::kArchive;
  s.year = 1999;
  s.month = 4;
  s.day = 23;
  s.hour = 21;
  s.minute = 5;
  s.second = 10;
  std::vector<cab::Source> v;
  v.push_back(std::move(s));
  cab::MemoryOutStream out;
  cab::write(v, out, {});
  platform::writeFile(*m, "C:\\WINDOWS\\rb000.cab", out.bytes());

  const std::string got = P + "\\Exchange\\System.dat";
  for (int round = 0; round < 2; ++round) {
    Ran r = tool(kPux, {"C:\\WINDOWS\\RB000.CAB", "/Y", "/E", "/L", P + "\\Exchange\\"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(slurp(host(got)), bytes);
    EXPECT_EQ(platform::getAttributes(*m, got) & 0x27, testsupport::attributesKept(*m, 'C', 0x27));
    platform::DateTime t = platform::lastModified(*m, got);
    EXPECT_EQ(std::vector<int>({t.year, t.month, t.day, t.hour, t.minute, t.second}),
              std::vector<int>({1999, 4, 23, 21, 5, 10}));
    // /Y never replaces a read-only file: the next round clears it first.
    Ran refused = tool(kPux, {"C:\\WINDOWS\\RB000.CAB", "/Y", "/E", "/L", P + "\\Exchange\\"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find(got + " is read-only and is not replaced; nothing extracted"), std::string::npos)
        << refused.out;
    EXPECT_EQ(platform::getAttributes(*m, got) & 0x27, testsupport::attributesKept(*m, 'C', 0x27));
    platform::setAttributes(*m, got, platform::kArchive);
  }

  Ran list = tool(kPux, {"/D", "C:\\WINDOWS\\rb000.cab"});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.out.find("04-23-1999  21:05:10  ASHR          5000  System.dat"), std::string::npos)
      << list.out;
}

TEST_F(MachineTools, PuxKeepsToTheFloppysRoomAndWriteProtection) {
  struct {
    const char* what;
    const char* capacity;
    const char* writeProtected;
    std::string oldDosreset;  // on the disk before
    int status;
    const char* message;
  } cases[] = {
      {"too small", "4500", "0", "", 3, "A:\\: the disk in A: is full; nothing extracted"},
      {"write-protected", "1457664", "1", "", 4, "A:\\: the disk in A: is write-protected; nothing extracted"},
      {"room made by the file replaced", "5500", "0", std::string(2000, 'o'), 0, "pux: A:\\DOSRESET.COM"},
  };
  platform::writeFile(*m, P + "\\util\\ad.kvt",
                      makeCabinet({{"DOSRESET.COM", randomBytes(1500, 7)}, {"README.TXT", randomBytes(1500, 8)}}));
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(tm.dir() / "drive_a");
    fs::create_directories(tm.dir() / "drive_a");
    m->setIni("Floppy", "WriteProtected", "0");
    platform::writeFile(*m, "A:\\AUTOEXEC.BAT", std::string(2000, 'b'));
    if (!c.oldDosreset.empty()) platform::writeFile(*m, "A:\\DOSRESET.COM", c.oldDosreset);
    m->setIni("Floppy", "Capacity", c.capacity);
    m->setIni("Floppy", "WriteProtected", c.writeProtected);
    auto before = listFolder(tm.dir() / "drive_a");
    Ran r = tool(kPux, {m->shortPath(P + "\\util\\ad.kvt"), "/Y", "/E", "/L", "A:\\"});
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
    if (c.status != 0) {
      EXPECT_EQ(listFolder(tm.dir() / "drive_a"), before);
    }
  }
}

TEST_F(MachineTools, TheNextRunRemovesWhatKilledRunsLeft) {
  // A run killed while it wrote: its temporary, and the folder of a set it
  // was putting together.
  auto sleeper = spawn(tm.dir(), {"/bin/sleep", "10"});
  const pid_t dead = sleeper->pid();
  std::string started;
  for (int i = 0; i < 200 && started.empty(); ++i) started = platform::processStartTime(dead);
  sleeper->kill();
  const std::string stale = ".~brakvel-" + std::to_string(dead) + "-" + started + "-";
  struct {
    const char* tool;
    std::string folder;  // where it writes
  } cases[] = {{"Makecab", P + "\\archive"}, {"pux", P + "\\Rescue"}};
  ASSERT_EQ(makecab("x", true).status, 0);
  for (auto& c : cases) {
    SCOPED_TRACE(c.tool);
    spit(host(c.folder) / (stale + "0"), std::string(100000, 'p'));
    fs::create_directories(host(c.folder).parent_path() / (stale + "1") / "Rescue");
    Ran r = std::string(c.tool) == "Makecab" ? makecab("x", true)
                                              : tool(kPux, {P + "\\archive\\x.kvt", "/Y", "/E", "/L", c.folder});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_FALSE(fs::exists(host(c.folder) / (stale + "0")));
    if (std::string(c.tool) == "pux") {
      EXPECT_FALSE(fs::exists(host(c.folder).parent_path() / (stale + "1")));
    }
  }
}

TEST_F(MachineTools, AKilledPuxLeavesTheOldSetOrTheNewOneWhole) {
  // Two generations of a prepared set, each with its own dates and
  // attributes; every run extracts the other one over what is there.
  struct Generation {
    std::string path;
    Files files;
    platform::DateTime time;
    uint8_t attributes;
  };
  Generation gens[2];
  for (int g = 0; g < 2; ++g) {
    std::vector<cab::Source> sources;
    for (const char* n : {"System.dat", "User.dat", "System.ini", "Win.ini", "info.txt"})
      gens[g].files.emplace_back(n, registryText(150000, static_cast<unsigned>(10 * g + std::string(n).size())));
    gens[g].time = g ? platform::DateTime{2004, 3, 9, 14, 5, 8} : platform::DateTime{1999, 12, 31, 23, 59, 58};
    gens[g].attributes = g ? platform::kArchive : (platform::kHidden | platform::kSystem | platform::kArchive);
    for (auto& [n, bytes] : gens[g].files) {
      cab::Source src;
      src.name = src.label = n;
      src.data = std::make_unique<cab::MemoryInStream>(bytes);
      src.year = gens[g].time.year, src.month = gens[g].time.month, src.day = gens[g].time.day;
      src.hour = gens[g].time.hour, src.minute = gens[g].time.minute, src.second = gens[g].time.second;
      src.attributes = gens[g].attributes;
      sources.push_back(std::move(src));
    }
    cab::MemoryOutStream out;
    cab::write(sources, out, {});
    gens[g].path = P + "\\archive\\gen" + std::to_string(g) + ".kvt";
    platform::writeFile(*m, gens[g].path, out.bytes());
  }
  const std::string rescue = P + "\\Rescue";
  // Which generation the folder holds, whole; -1 for a mix.
  auto holds = [&]() -> int {
    for (int g = 0; g < 2; ++g) {
      bool all = true;
      for (auto& [n, bytes] : gens[g].files) {
        std::string f = rescue + "\\" + n;
        if (!platform::fileExists(*m, f) || platform::readFile(*m, f) != bytes ||
            platform::getAttributes(*m, f) != testsupport::attributesKept(*m, 'C', gens[g].attributes) ||
            platform::lastModified(*m, f).toTime() != gens[g].time.toTime())
          all = false;
      }
      if (all) return g;
    }
    return -1;
  };
  auto start = [&](int g) { return spawn(tm.dir(), {kPux, gens[g].path, "/Y", "/E", "/L", rescue}); };
  ASSERT_EQ(start(0)->wait(kToolBudget), 0);
  ASSERT_EQ(holds(), 0);
  auto began = std::chrono::steady_clock::now();
  ASSERT_EQ(start(1)->wait(kToolBudget), 0);
  const auto runTime = std::chrono::steady_clock::now() - began;
  ASSERT_EQ(holds(), 1);

  std::mt19937 random(12);
  int current = 1, old = 0, fresh = 0;
  for (int trial = 0; trial < 30; ++trial) {
    int next = 1 - current;
    auto pending = start(next);
    std::uniform_int_distribution<long> at(0, std::chrono::duration_cast<std::chrono::microseconds>(runTime).count() * 3 / 2);
    std::this_thread::sleep_for(std::chrono::microseconds(at(random)));
    pending->kill();
    int now = holds();
    ASSERT_NE(now, -1) << "trial " << trial << ": a mixed set";
    (now == current ? old : fresh) += 1;
    current = now;
  }
  // Kills landed before the set was put in place and after it.
  EXPECT_GT(old, 0);
  EXPECT_GT(fresh, 0);
  // The next run takes away what the killed ones left.
  ASSERT_EQ(start(1 - current)->wait(kToolBudget), 0);
  for (const fs::path& dir : {host(rescue), host(P)})
    for (const auto& e : fs::directory_iterator(dir))
      EXPECT_EQ(e.path().filename().string().rfind(".~brakvel-", 0), std::string::npos) << e.path();
}

// Host-path runs of pux: damaged input, refusals, peers' cabinets, corpus.
class HostPux : public testing::Test {
 protected:
  Ran pux(const std::vector<std::string>& args) {
    std::vector<std::string> argv{kPux};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, kToolBudget, {.env = {{"BRAKVEL9X_MACHINE", std::nullopt}}, .mergeOutput = true});
  }
  TempDir tmp;
};

std::string withMember(const std::string& name, const std::string& bytes) {
  return makeCabinet({{"good.txt", "fine"}, {name, bytes}});
}

struct PuxBad {
  const char* what;
  std::string (*cabinet)();
  std::vector<std::string> args;  // after the cabinet; "OUT" is the target
  const char* message;
};

class PuxRefuses : public HostPux, public testing::WithParamInterface<PuxBad> {};

TEST_P(PuxRefuses, WithAMessageAndNothingWritten) {
  fs::path cabinet = tmp / "in.cab";
  std::string bytes = GetParam().cabinet();
  if (bytes.empty()) GTEST_SKIP() << "cabinet corpus not found at " << CAB_CORPUS;
  spit(cabinet, bytes);
  fs::path out = tmp / "out";
  fs::create_directory(out);
  spit(out / "kept.txt", "old");
  std::vector<std::string> args = {cabinet.string()};
  for (auto a : GetParam().args) args.push_back(a == "OUT" ? out.string() : a);
  Ran r = pux(args);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find(GetParam().message), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(cabinet.string()), std::string::npos) << r.out;
  EXPECT_EQ(listFolder(tmp.path()), (std::vector<std::string>{"in.cab", "out", "out/kept.txt"}));
  EXPECT_EQ(slurp(out / "kept.txt"), "old");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PuxRefuses,
    testing::Values(
        PuxBad{"not_a_cabinet", [] { return std::string("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n"); },
               {"/Y", "/E", "/L", "OUT"}, "is not a cabinet"},
        PuxBad{"truncated",
               [] {
                 std::string c = withMember("big.dat", registryText(200000, 5));
                 return c.substr(0, c.size() / 2);
               },
               {"/Y", "/E", "/L", "OUT"}, "truncated"},
        PuxBad{"bad_checksum",
               [] {
                 std::string c = withMember("big.dat", registryText(200000, 5));
                 c[c.size() - 1000] ^= 1;
                 return c;
               },
               {"/Y", "/E", "/L", "OUT"}, "checksum"},
        PuxBad{"member_not_there", [] { return withMember("a.txt", "a"); }, {"/Y", "/L", "OUT", "b.txt"},
               "holds no member b.txt"},
        PuxBad{"parent_folder", [] { return withMember("..\\evil.txt", "x"); }, {"/Y", "/E", "/L", "OUT"},
               "leaves the target folder"},
        PuxBad{"parent_folder_named", [] { return withMember("sub/../../evil.txt", "x"); },
               {"/Y", "/L", "OUT", "sub/../../evil.txt"}, "leaves the target folder"},
        PuxBad{"drive", [] { return withMember("C:evil.txt", "x"); }, {"/Y", "/E", "/L", "OUT"},
               "leaves the target folder"},
        PuxBad{"absolute", [] { return withMember("\\tmp\\evil.txt", "x"); }, {"/Y", "/E", "/L", "OUT"},
               "leaves the target folder"},
        PuxBad{"names_that_differ_only_in_case",
               [] { return makeCabinet({{"System.dat", "a"}, {"info.txt", "i"}, {"SYSTEM.DAT", "b"}}); },
               {"/Y", "/E", "/L", "OUT"},
               "the members System.dat and SYSTEM.DAT differ only in letter case, and Windows keeps them as one "
               "file; nothing extracted"},
        PuxBad{"twins_in_a_subfolder", [] { return makeCabinet({{"Sub\\a.txt", "a"}, {"sub/A.TXT", "b"}}); },
               {"/Y", "/E", "/L", "OUT"}, "differ only in letter case"},
        PuxBad{"star", [] { return withMember("a*b.txt", "x"); }, {"/Y", "/E", "/L", "OUT"},
               "the member name a*b.txt cannot stand on Windows: it holds the character *; nothing extracted"},
        PuxBad{"question_mark", [] { return withMember("why?.txt", "x"); }, {"/Y", "/E", "/L", "OUT"},
               "it holds the character ?"},
        PuxBad{"angle", [] { return withMember("a<b", "x"); }, {"/Y", "/E", "/L", "OUT"}, "the character <"},
        PuxBad{"pipe", [] { return withMember("a|b", "x"); }, {"/Y", "/E", "/L", "OUT"}, "the character |"},
        PuxBad{"quote", [] { return withMember("a\"b", "x"); }, {"/Y", "/E", "/L", "OUT"}, "the character \""},
        PuxBad{"control", [] { return withMember(std::string("a\x07") + "b.txt", "x"); }, {"/Y", "/E", "/L", "OUT"},
               "it holds a control character"},
        PuxBad{"device", [] { return withMember("CON", "x"); }, {"/Y", "/E", "/L", "OUT"},
               "the member name CON cannot stand on Windows: it is the name of the device CON"},
        PuxBad{"device_with_extension", [] { return withMember("lpt1.txt", "x"); }, {"/Y", "/E", "/L", "OUT"},
               "it is the name of the device LPT1"},
        PuxBad{"device_in_a_subfolder", [] { return withMember("logs\\Com9.log", "x"); }, {"/Y", "/E", "/L", "OUT"},
               "it is the name of the device COM9"},
        PuxBad{"device_named", [] { return withMember("nul", "x"); }, {"/Y", "/L", "OUT", "good.txt", "nul"},
               "the device NUL"},
        PuxBad{"trailing_dot", [] { return withMember("info.", "x"); }, {"/Y", "/E", "/L", "OUT"},
               "it ends with a dot or a blank"},
        PuxBad{"spanned",
               [] { return slurp(fs::path(CAB_CORPUS) / "multi_basic_pt2.cab"); },
               {"/Y", "/E", "/L", "OUT"}, "part of a set"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(HostPux, WithoutYAnExistingFileIsKeptAndTheRunFails) {
  fs::path cabinet = tmp / "in.cab";
  spit(cabinet, makeCabinet({{"a.txt", "new a"}, {"b.txt", "new b"}}));
  spit(tmp / "a.txt", "old a");
  Ran r = pux({cabinet.string(), "/E", "/L", tmp.path().string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("a.txt exists already"), std::string::npos) << r.out;
  EXPECT_EQ(slurp(tmp / "a.txt"), "old a");
  EXPECT_EQ(slurp(tmp / "b.txt"), "new b");
  Ran y = pux({cabinet.string(), "/Y", "/E", "/L", tmp.path().string() + "/"});
  EXPECT_EQ(y.status, 0) << y.out;
  EXPECT_EQ(slurp(tmp / "a.txt"), "new a");
}

TEST_F(HostPux, MembersInSubfoldersStayInsideTheTarget) {
  fs::path cabinet = tmp / "in.cab";
  spit(cabinet, makeCabinet({{"sub\\deeper\\x.txt", "x"}}));
  fs::create_directory(tmp / "out");
  Ran r = pux({cabinet.string(), "/Y", "/E", "/L", (tmp / "out").string()});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(slurp(tmp / "out" / "sub" / "deeper" / "x.txt"), "x");
}

TEST_F(HostPux, ReadsPeerCabinetsExactly) {
  if (!haveProgram("gcab")) GTEST_SKIP() << "gcab is needed (scripts/setup-deps installs it)";
  fs::path src = tmp / "src";
  fs::create_directory(src);
  Files files = {{"System.dat", registryText(400000, 21)}, {"Win.ini", ""}, {"r.bin", randomBytes(70000, 22)}};
  std::string names;
  for (auto& [n, b] : files) {
    spit(src / n, b);
    names += " " + n;
  }
  for (std::string flags : {"-c -z", "-c"}) {
    SCOPED_TRACE(flags);
    fs::path cabinet = tmp / "peer.cab";
    fs::remove(cabinet);
    ASSERT_EQ(runShell("cd " + quote(src.string()) + " && gcab " + flags + " " + quote(cabinet.string()) + names,
                       kToolBudget, kMerged).status, 0);
    fs::path out = tmp / "out";
    fs::remove_all(out);
    fs::create_directory(out);
    Ran r = pux({cabinet.string(), "/Y", "/E", "/L", out.string()});
    ASSERT_EQ(r.status, 0) << r.out;
    for (auto& [n, b] : files) EXPECT_EQ(slurp(out / n), b) << n;
  }
}

TEST_F(HostPux, CorpusCabinetsGiveTheOutcomeOfTheirTable) {
  fs::path dir = CAB_CORPUS;
  if (!fs::exists(dir / "README.md")) GTEST_SKIP() << "cabinet corpus not found at " << dir;
  for (auto& [name, outcome] : corpusTable(dir)) {
    SCOPED_TRACE(name);
    fs::path out = tmp / name;
    fs::create_directory(out);
    Ran r = pux({(dir / name).string(), "/Y", "/E", "/L", out.string()});
    if (outcome == "ok") {
      EXPECT_EQ(r.status, 0) << r.out;
      cab::Reader reader(std::make_unique<cab::FileInStream>(dir / name), name);
      for (auto& mem : reader.members()) EXPECT_TRUE(fs::exists(out / mem.name)) << mem.name;
      EXPECT_EQ(pux({"/D", (dir / name).string()}).status, 0);
    } else {
      EXPECT_NE(r.status, 0) << r.out;
      EXPECT_NE(r.out.find(name), std::string::npos) << r.out;
      EXPECT_EQ(listFolder(out), std::vector<std::string>{}) << r.out;
      if (outcome == "spanned") {
        EXPECT_NE(r.out.find("part of a set"), std::string::npos) << r.out;
      }
    }
  }
}

}  // namespace
