// Makecab and pux as the program runs them: real processes on a real
// temporary machine (or host paths), checked against the peers.
#include <gtest/gtest.h>

#include "cab/reader.h"
#include "cab/writer.h"
#include "platform/files.h"
#include "support.h"
#include "tests/platform/TempMachine.h"

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
    std::string cmd = "BRAKVEL9X_MACHINE=" + quote(tm.dir().string()) + " " + quote(exe);
    for (auto& a : args) cmd += " " + quote(a);
    return run(cmd);
  }

  Ran makecab(const std::string& name, bool classes) {
    platform::writeFile(*m, P + "\\util\\kvt.ddf", programDirective(P, name, classes));
    return tool(kMakecab, {"/f", P + "\\util\\kvt.ddf"});
  }

  fs::path host(const std::string& win) { return m->toHost(win); }

  testing_machine::TempMachine tm;
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
  ASSERT_EQ(r.status, 0) << r.output;
  std::string archive = P + "\\archive\\" + c.name + ".kvt";
  fs::path file = host(archive);
  ASSERT_TRUE(fs::exists(file)) << file;
  EXPECT_EQ(listFolder(file.parent_path()), std::vector<std::string>{std::string(c.name) + ".kvt"});

  std::string bytes = readHost(file);
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
    Ran t1 = run("cabextract -t " + quote(file.string()));
    EXPECT_EQ(t1.status, 0) << t1.output;
    Ran t2 = run("gcab -t " + quote(file.string()));
    EXPECT_EQ(t2.status, 0) << t2.output;
    TempDir out;
    Ran x = run("gcab -x -C " + quote(out.path().string()) + " " + quote(file.string()));
    ASSERT_EQ(x.status, 0) << x.output;
    for (auto& n : expected) EXPECT_EQ(readHost(out / n), sourceBytes(n)) << n;
  }

  // The program's all-members shape, short paths, no trailing backslash.
  std::string k = m->shortPath(archive), s = m->shortPath(P);
  ASSERT_FALSE(k.empty());
  Ran all = tool(kPux, {k, "/Y", "/E", "/L", s + "\\Rescue"});
  ASSERT_EQ(all.status, 0) << all.output;
  for (auto& n : expected) EXPECT_EQ(readHost(host(P + "\\Rescue\\" + n)), sourceBytes(n)) << n;
  EXPECT_EQ(listFolder(host(P + "\\Rescue")).size(), expected.size());

  // The one-member shape.
  platform::deleteFile(*m, P + "\\Exchange\\info.txt");
  Ran one = tool(kPux, {k, "/Y", "/L", s + "\\Exchange", "info.txt"});
  ASSERT_EQ(one.status, 0) << one.output;
  EXPECT_EQ(readHost(host(P + "\\Exchange\\info.txt")), sourceBytes("info.txt"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgramDirectives,
    testing::Values(ProgramCase{"with_classes_dat", "C:\\Program Files\\Brakvel 9x", "Backup 1", true},
                    ProgramCase{"without_classes_dat", "C:\\Program Files\\Brakvel 9x", "Before update", false},
                    ProgramCase{"empty_name", "C:\\Program Files\\Brakvel 9x", "", true},
                    ProgramCase{"short_folder", "C:\\BRAKVEL", "monday", false}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(MachineTools, ArchiveIsReplacedOnlyByACompleteCabinetAndKeepsItsShortName) {
  ASSERT_EQ(makecab("Backup 1", true).status, 0);
  ASSERT_EQ(makecab("Backup 2", true).status, 0);
  std::string second = P + "\\archive\\Backup 2.kvt";
  std::string shortName = m->shortPath(second);
  EXPECT_EQ(platform::winBaseName(shortName), "BACKUP~2.KVT");
  platform::deleteFile(*m, P + "\\archive\\Backup 1.kvt");

  platform::writeFile(*m, P + "\\Exchange\\System.dat", "changed");
  ASSERT_EQ(makecab("Backup 2", true).status, 0);
  EXPECT_EQ(m->shortPath(second), shortName);
  std::string good = readHost(host(second));
  EXPECT_EQ(readCabinet(good)[1].second, "changed");

  platform::deleteFile(*m, P + "\\Exchange\\User.dat");
  Ran r = makecab("Backup 2", true);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("kvt.ddf:13: cannot read C:\\Program Files\\Brakvel 9x\\Exchange\\User.dat"),
            std::string::npos)
      << r.output;
  EXPECT_EQ(readHost(host(second)), good);
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
  EXPECT_NE(r.output.find(GetParam().message), std::string::npos) << r.output;
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
        BadRun{"source_is_a_folder",
               [](platform::Machine&, const std::string& p, std::string& d) { d += "\"" + p + "\\Rescue\"\r\n"; },
               "kvt.ddf:16: cannot read C:\\Program Files\\Brakvel 9x\\Rescue"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(MachineTools, MissingDirectiveAndBadCommandLinesFail) {
  Ran r = tool(kMakecab, {"/f", P + "\\util\\nothing.ddf"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("nothing.ddf"), std::string::npos) << r.output;
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
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(readHost(host(got)), bytes);
    EXPECT_EQ(platform::getAttributes(*m, got) & 0x27, 0x27);
    platform::DateTime t = platform::lastModified(*m, got);
    EXPECT_EQ(std::vector<int>({t.year, t.month, t.day, t.hour, t.minute, t.second}),
              std::vector<int>({1999, 4, 23, 21, 5, 10}));
    // /Y never replaces a read-only file: the next round clears it first.
    Ran refused = tool(kPux, {"C:\\WINDOWS\\RB000.CAB", "/Y", "/E", "/L", P + "\\Exchange\\"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find(got + " is read-only and is not replaced; nothing extracted"), std::string::npos)
        << refused.output;
    EXPECT_EQ(platform::getAttributes(*m, got) & 0x27, 0x27);
    platform::setAttributes(*m, got, platform::kArchive);
  }

  Ran list = tool(kPux, {"/D", "C:\\WINDOWS\\rb000.cab"});
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.output.find("04-23-1999  21:05:10  ASHR          5000  System.dat"), std::string::npos)
      << list.output;
}

// Host-path runs of pux: damaged input, refusals, peers' cabinets, corpus.
class HostPux : public testing::Test {
 protected:
  Ran pux(const std::vector<std::string>& args) {
    std::string cmd = "env -u BRAKVEL9X_MACHINE " + quote(kPux);
    for (auto& a : args) cmd += " " + quote(a);
    return run(cmd);
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
  writeHost(cabinet, bytes);
  fs::path out = tmp / "out";
  fs::create_directory(out);
  writeHost(out / "kept.txt", "old");
  std::vector<std::string> args = {cabinet.string()};
  for (auto a : GetParam().args) args.push_back(a == "OUT" ? out.string() : a);
  Ran r = pux(args);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find(GetParam().message), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(cabinet.string()), std::string::npos) << r.output;
  EXPECT_EQ(listFolder(tmp.path()), (std::vector<std::string>{"in.cab", "out", "out/kept.txt"}));
  EXPECT_EQ(readHost(out / "kept.txt"), "old");
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
        PuxBad{"spanned",
               [] { return readHost(fs::path(CAB_CORPUS) / "multi_basic_pt2.cab"); },
               {"/Y", "/E", "/L", "OUT"}, "part of a set"}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(HostPux, WithoutYAnExistingFileIsKeptAndTheRunFails) {
  fs::path cabinet = tmp / "in.cab";
  writeHost(cabinet, makeCabinet({{"a.txt", "new a"}, {"b.txt", "new b"}}));
  writeHost(tmp / "a.txt", "old a");
  Ran r = pux({cabinet.string(), "/E", "/L", tmp.path().string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("a.txt exists already"), std::string::npos) << r.output;
  EXPECT_EQ(readHost(tmp / "a.txt"), "old a");
  EXPECT_EQ(readHost(tmp / "b.txt"), "new b");
  Ran y = pux({cabinet.string(), "/Y", "/E", "/L", tmp.path().string() + "/"});
  EXPECT_EQ(y.status, 0) << y.output;
  EXPECT_EQ(readHost(tmp / "a.txt"), "new a");
}

TEST_F(HostPux, MembersInSubfoldersStayInsideTheTarget) {
  fs::path cabinet = tmp / "in.cab";
  writeHost(cabinet, makeCabinet({{"sub\\deeper\\x.txt", "x"}}));
  fs::create_directory(tmp / "out");
  Ran r = pux({cabinet.string(), "/Y", "/E", "/L", (tmp / "out").string()});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(readHost(tmp / "out" / "sub" / "deeper" / "x.txt"), "x");
}

TEST_F(HostPux, ReadsPeerCabinetsExactly) {
  if (!haveProgram("gcab")) GTEST_SKIP() << "gcab is needed (scripts/setup-deps installs it)";
  fs::path src = tmp / "src";
  fs::create_directory(src);
  Files files = {{"System.dat", registryText(400000, 21)}, {"Win.ini", ""}, {"r.bin", randomBytes(70000, 22)}};
  std::string names;
  for (auto& [n, b] : files) {
    writeHost(src / n, b);
    names += " " + n;
  }
  for (std::string flags : {"-c -z", "-c"}) {
    SCOPED_TRACE(flags);
    fs::path cabinet = tmp / "peer.cab";
    fs::remove(cabinet);
    ASSERT_EQ(run("cd " + quote(src.string()) + " && gcab " + flags + " " + quote(cabinet.string()) + names).status, 0);
    fs::path out = tmp / "out";
    fs::remove_all(out);
    fs::create_directory(out);
    Ran r = pux({cabinet.string(), "/Y", "/E", "/L", out.string()});
    ASSERT_EQ(r.status, 0) << r.output;
    for (auto& [n, b] : files) EXPECT_EQ(readHost(out / n), b) << n;
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
      EXPECT_EQ(r.status, 0) << r.output;
      cab::Reader reader(std::make_unique<cab::FileInStream>(dir / name), name);
      for (auto& mem : reader.members()) EXPECT_TRUE(fs::exists(out / mem.name)) << mem.name;
      EXPECT_EQ(pux({"/D", (dir / name).string()}).status, 0);
    } else {
      EXPECT_NE(r.status, 0) << r.output;
      EXPECT_NE(r.output.find(name), std::string::npos) << r.output;
      EXPECT_EQ(listFolder(out), std::vector<std::string>{}) << r.output;
      if (outcome == "spanned") {
        EXPECT_NE(r.output.find("part of a set"), std::string::npos) << r.output;
      }
    }
  }
}

}  // namespace
