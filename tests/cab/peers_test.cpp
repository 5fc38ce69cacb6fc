// Our cabinets against the independent peers cabextract and gcab, and theirs
// through our reader.
#include <gtest/gtest.h>

#include "cab/reader.h"
#include "support.h"
#include "tests/support/generated_sets.h"

using namespace cabtest;

namespace {

class Peers : public testing::Test {
 protected:
  void SetUp() override {
    if (!haveProgram("cabextract") || !haveProgram("gcab"))
      GTEST_SKIP() << "cabextract and gcab are needed (scripts/setup-deps installs them)";
  }
  TempDir tmp;
};

const Files& sample() {
  static Files f = {{"Classes.dat", registryText(200000, 11)},
                    {"System.dat", registryText(1500000, 12)},
                    {"User.dat", registryText(70000, 13)},
                    {"System.ini", "[boot]\r\nshell=Explorer.exe\r\n"},
                    {"Win.ini", ""},
                    {"noise.bin", randomBytes(90000, 14)},
                    {"info.txt", "Created : 14.09.2001\r\n"}};
  return f;
}

// Noise repeating every 12000 bytes, so that every block after the first
// starts with matches into the block before it.
std::string repeated(size_t n) {
  std::string period = randomBytes(12000, 15), out;
  while (out.size() < n) out += period;
  return out.substr(0, n);
}

struct PeerCase {
  const char* what;
  Files files;
};

const std::vector<PeerCase>& peerCases() {
  static std::vector<PeerCase> cases = {
      {"system-file set", sample()},
      {"only an empty file", {{"empty.txt", ""}}},
      {"matches across blocks and batches",
       {{"System.dat", repeated(2 * 1024 * 1024 + 40000)}, {"User.dat", registryText(100000, 16)}}},
  };
  return cases;
}

TEST_F(Peers, AcceptOurCabinetsAndGiveBackTheBytes) {
  for (auto& c : peerCases()) {
    for (auto method : {cab::Compression::MSZIP, cab::Compression::Stored}) {
      for (uint32_t reserve : {0u, 6144u}) {
        SCOPED_TRACE(std::string(c.what) + ", reserve " + std::to_string(reserve) +
                     (method == cab::Compression::MSZIP ? ", MSZIP" : ", stored"));
        cab::WriteOptions o;
        o.compression = method;
        o.reserve = reserve;
        fs::path file = tmp / "ours.kvt";
        spit(file, makeCabinet(c.files, o));
        Ran t1 = run({"cabextract", "-t", file.string()}, kToolBudget, kMerged);
        EXPECT_EQ(t1.status, 0) << t1.out;
        EXPECT_EQ(t1.out.find("failed"), std::string::npos) << t1.out;
        Ran t2 = run({"gcab", "-t", file.string()}, kToolBudget, kMerged);
        EXPECT_EQ(t2.status, 0) << t2.out;
        fs::path out = tmp / "out";
        fs::remove_all(out);
        fs::create_directory(out);
        Ran x = run({"gcab", "-x", "-C", out.string(), file.string()}, kToolBudget, kMerged);
        ASSERT_EQ(x.status, 0) << x.out;
        for (auto& [name, bytes] : c.files) EXPECT_EQ(difference(slurp(out / name), bytes), "") << name;
        Ran l = run({"gcab", "-l", file.string()}, kToolBudget, kMerged);
        std::string expected;
        for (auto& [name, bytes] : c.files)
          expected += name + " " + std::to_string(bytes.size()) + " 2001-09-14 13:37:42 0x20\n";
        EXPECT_EQ(l.out, expected);
      }
    }
  }
}

// gcab -c -z compresses each block alone at zlib's default level; ours are
// primed with the input before them, which must never cost size, not even
// where nothing compresses.
TEST_F(Peers, OurCabinetsAreNoLargerThanGcabsCompressedOnes) {
  const std::vector<PeerCase> cases = {
      {"system-file set", sample()},
      {"CREG hives",
       {{"System.dat", generated::cregHive(1500000, 31)}, {"User.dat", generated::cregHive(200000, 32)},
        {"System.ini", "[boot]\r\n"}}},
      {"matches across blocks and batches", peerCases()[2].files},
      {"noise only", {{"noise.bin", randomBytes(300000, 33)}}},
      {"zeros", {{"zeros.bin", std::string(1 << 20, '\0')}}},
      {"only an empty file", {{"empty.txt", ""}}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::path src = tmp / "src";
    fs::remove_all(src);
    fs::create_directory(src);
    std::string args;
    for (auto& [name, bytes] : c.files) {
      spit(src / name, bytes);
      args += " " + quote(name);
    }
    fs::path theirs = tmp / "theirs.cab";
    fs::remove(theirs);
    Ran g = runShell("cd " + quote(src.string()) + " && gcab -c -z " + quote(theirs.string()) + args, kToolBudget,
                     kMerged);
    ASSERT_EQ(g.status, 0) << g.out;
    size_t ours = makeCabinet(c.files, cab::WriteOptions{}).size();
    EXPECT_LE(ours, fs::file_size(theirs)) << "ours " << ours << " bytes, gcab's " << fs::file_size(theirs);
  }
}

TEST_F(Peers, OurReaderReadsGcabCabinetsExactly) {
  fs::path src = tmp / "src";
  fs::create_directory(src);
  std::string args;
  for (auto& [name, bytes] : sample()) {
    spit(src / name, bytes);
    args += " " + quote(name);
  }
  for (std::string flags : {"-c -z", "-c"}) {
    SCOPED_TRACE(flags);
    fs::path file = tmp / "theirs.cab";
    fs::remove(file);
    Ran c = runShell("cd " + quote(src.string()) + " && gcab " + flags + " " + quote(file.string()) + args, kToolBudget,
                     kMerged);
    ASSERT_EQ(c.status, 0) << c.out;
    EXPECT_EQ(difference(readCabinet(slurp(file)), sample()), "");
  }
}

}  // namespace
