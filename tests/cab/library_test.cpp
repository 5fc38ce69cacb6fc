// The cabinet library on its own, fed from memory.
#include <gtest/gtest.h>

#include "cab/error.h"
#include "cab/reader.h"
#include "cab/writer.h"
#include "support.h"

using namespace cabtest;

namespace {

uint32_t get32(const std::string& s, size_t at) {
  return static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8) |
         (static_cast<uint8_t>(s[at + 2]) << 16) | (static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24);
}
uint16_t get16(const std::string& s, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8));
}

struct RoundTrip {
  const char* what;
  Files files;
};

class WriterRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(WriterRoundTrip, ReaderGivesBackTheBytesInOrder) {
  for (auto method : {cab::Compression::MSZIP, cab::Compression::Stored}) {
    cab::WriteOptions o;
    o.compression = method;
    std::string cabinet = makeCabinet(GetParam().files, o);
    EXPECT_EQ(difference(readCabinet(cabinet), GetParam().files), "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, WriterRoundTrip,
    testing::Values(RoundTrip{"one empty file", {{"empty.txt", ""}}},
                    RoundTrip{"block edges",
                              {{"a", registryText(32768, 1)}, {"b", registryText(1, 2)},
                               {"c", registryText(32767, 3)}, {"d", ""}, {"e", registryText(32769, 4)}}},
                    RoundTrip{"several batches",
                              {{"System.dat", registryText(5 * 1024 * 1024 + 17, 5)},
                               {"noise.bin", randomBytes(300000, 6)}}}),
    [](const auto& info) {
      std::string n = info.param.what;
      for (auto& c : n) if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return n;
    });

// Sizes at and around the edges of a block (32 KiB) and of the batch the
// writer compresses at once (64 blocks).
struct ThreadCase {
  const char* what;
  size_t size;
  bool noise;
};

class WriterThreads : public testing::TestWithParam<ThreadCase> {};

TEST_P(WriterThreads, OutputDoesNotDependOnTheThreadCount) {
  const size_t n = GetParam().size;
  std::string data = GetParam().noise ? randomBytes(n, 7) : registryText(n, 7);
  // Two members, so that one block also holds the end of the first.
  Files files = {{"System.dat", data.substr(0, n / 3)}, {"User.dat", data.substr(n / 3)}};
  cab::WriteOptions one;
  one.threads = 1;
  std::string reference = makeCabinet(files, one);
  EXPECT_EQ(difference(readCabinet(reference), files), "");
  for (unsigned t : {2u, 3u, 8u}) {
    cab::WriteOptions many;
    many.threads = t;
    EXPECT_EQ(difference(makeCabinet(files, many), reference), "") << t << " threads";
  }
}

constexpr size_t kBatchBytes = 64 * 32768;
INSTANTIATE_TEST_SUITE_P(
    Edges, WriterThreads,
    testing::Values(ThreadCase{"block_less_one", 32767, false}, ThreadCase{"one_block", 32768, false},
                    ThreadCase{"block_and_one", 32769, false},
                    ThreadCase{"batch_less_one", kBatchBytes - 1, false},
                    ThreadCase{"one_batch", kBatchBytes, false}, ThreadCase{"batch_and_one", kBatchBytes + 1, false},
                    ThreadCase{"batch_and_a_block", kBatchBytes + 32768, false},
                    ThreadCase{"two_batches_and_a_half", 2 * kBatchBytes + kBatchBytes / 2 + 5, false},
                    ThreadCase{"noise_over_a_batch", kBatchBytes + 40000, true}),
    [](const auto& info) { return std::string(info.param.what); });

TEST(Writer, DictionaryFromThePreviousBlockShrinksRepeatedData) {
  // Noise repeating every 12000 bytes: only a block that sees the input
  // before it can start with a match, and then holds nothing but matches
  // (a few hundred bytes). 180 periods span 66 blocks, a member boundary
  // and the edge of a batch; one block without its dictionary would cost
  // another 12000 bytes.
  std::string period = randomBytes(12000, 9);
  std::string data;
  for (int i = 0; i < 180; ++i) data += period;
  Files files = {{"a", data.substr(0, 89000)}, {"b", data.substr(89000)}};
  for (unsigned threads : {1u, 2u}) {
    cab::WriteOptions o;
    o.threads = threads;
    std::string cabinet = makeCabinet(files, o);
    EXPECT_LT(cabinet.size(), 12000u + 66u * 400u) << threads << " threads";
    EXPECT_EQ(difference(readCabinet(cabinet), files), "");
  }
}

TEST(Writer, HeaderCarriesReserveCountsAndMemberRecords) {
  cab::WriteOptions o;
  o.reserve = 6144;
  Files files = {{"Classes.dat", "c"}, {"System.dat", "sys"}, {"info.txt", "i"}};
  std::string c = makeCabinet(files, o);
  EXPECT_EQ(c.substr(0, 4), "MSCF");
  EXPECT_EQ(get32(c, 8), c.size());           // cbCabinet
  EXPECT_EQ(get16(c, 26), 1);                  // one folder
  EXPECT_EQ(get16(c, 28), 3);                  // three files
  EXPECT_EQ(get16(c, 30), 0x0004);             // reserve present, no set
  EXPECT_EQ(get16(c, 36), 6144);               // cbCFHeader
  EXPECT_EQ(c[38], 0);                         // cbCFFolder
  EXPECT_EQ(c[39], 0);                         // cbCFData
  EXPECT_EQ(c.substr(40, 6144), std::string(6144, '\0'));
  size_t folder = 40 + 6144;
  EXPECT_EQ(get16(c, folder + 4), 1);          // one data block
  EXPECT_EQ(get16(c, folder + 6), 1);          // MSZIP
  uint32_t files0 = get32(c, 16);
  EXPECT_EQ(files0, folder + 8);
  EXPECT_EQ(get16(c, files0 + 10), (2001 - 1980) << 9 | 9 << 5 | 14);
  EXPECT_EQ(get16(c, files0 + 12), 13 << 11 | 37 << 5 | 21);
  EXPECT_EQ(c.substr(files0 + 16, 12), std::string("Classes.dat\0", 12));

  cab::Reader r(std::make_unique<cab::MemoryInStream>(c), "memory");
  ASSERT_EQ(r.members().size(), 3u);
  EXPECT_EQ(r.members()[1].name, "System.dat");
  EXPECT_EQ(r.members()[1].size, 3u);
  EXPECT_EQ(r.members()[1].year, 2001);
  EXPECT_EQ(r.members()[1].second, 42);
  EXPECT_EQ(r.members()[1].attributes, 0x20);
  EXPECT_EQ(r.members()[1].method, "MSZIP");
  EXPECT_EQ(r.find("SYSTEM.DAT"), 1u);
  EXPECT_FALSE(r.find("User.dat"));
}

TEST(Writer, AttributesAndOddSecondsAreKept) {
  cab::Source s;
  s.name = "User.dat";
  s.label = "User.dat";
  std::string bytes = "u";
  s.data = std::make_unique<cab::MemoryInStream>(bytes);
  s.attributes = 0x01 | 0x02 | 0x04 | 0x20;
  s.year = 1998;
  s.second = 59;
  std::vector<cab::Source> v;
  v.push_back(std::move(s));
  cab::MemoryOutStream out;
  cab::write(v, out, {});
  cab::Reader r(std::make_unique<cab::MemoryInStream>(out.bytes()), "memory");
  EXPECT_EQ(r.members()[0].attributes, 0x27);
  EXPECT_EQ(r.members()[0].year, 1998);
  EXPECT_EQ(r.members()[0].second, 58);  // DOS time keeps two-second steps
}

TEST(Writer, RefusesWhatACabinetCannotHold) {
  cab::WriteOptions small;
  small.maxSize = 1000;
  EXPECT_THROW(makeCabinet({{"r", randomBytes(5000, 1)}}, small), cab::CabError);
  EXPECT_THROW(makeCabinet({{std::string(256, 'n'), "x"}}), cab::CabError);
  EXPECT_THROW(makeCabinet({{"", "x"}}), cab::CabError);
  EXPECT_THROW(makeCabinet({}), cab::CabError);
  cab::WriteOptions reserve;
  reserve.reserve = 60001;
  EXPECT_THROW(makeCabinet({{"a", "x"}}, reserve), cab::CabError);
}

TEST(Reader, ExtractsTheNextMemberAfterOneFailed) {
  // Found by the fuzzer: libmspack's state after a failed member made the
  // next extraction read through a null file handle.
  const std::string bytes(
      "\x4d\x53\x43\x46\x00\x00\x00\x00\xae\x00\x00\x00\x00\x00\x00\x00\x30\x00\x00\x00\x00\x00\x00\x00"
      "\x03\x01\x01\x00\x02\x00\x04\x00\x01\x00\x00\x00\x00\x00\x00\x18\x64\x00\x00\x00\x02\x00\x00\x00"
      "\x05\x00\x00\x00\x00\x00\x00\x00\x00\x00\x6c\x22\xba\x59\x20\x00\x74\x65\x73\x74\x31\x2e\x74\x78"
      "\x74\x00\x05\x00\x00\x00\x05\x00\x00\x00\x00\x00\x6c\x22\xba\x59\x20\x00\x74\x65\x73\x74\x32\x2e"
      "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x74\x78\x74\x00\x00\x00\x00\x00\x05\x00"
      "\x05\x00\x72\x65\x73\x65\x72\x76\x65\x64\x20\x64\x61\x74\x61\x20\x74\x65\x73\x74\x20\x31\x32\x33"
      "\x34\x35\x54\x45\x53\x54\x0a\x00\x00\x00\x00\x05\x00\x05\x00\x72\x65\x73\x65\x72\x76\x65\x64\x20"
      "\x64\x61\x74\x61\x20\x74\x65\x73\x74\x20\x31\x32\x33\x34\x35\x74\x65\x73\x74\x0a",
      212);
  // Each member fares after the other's failure as it fares on its own.
  auto outcome = [](cab::Reader& r, size_t i) {
    cab::MemoryOutStream out;
    try {
      r.extract(i, out);
    } catch (const cab::CabError& e) {
      return std::string("error: ") + e.what();
    }
    return out.bytes();
  };
  for (size_t first : {0u, 1u}) {
    SCOPED_TRACE(first);
    cab::Reader alone(std::make_unique<cab::MemoryInStream>(bytes), "memory");
    const std::string expected = outcome(alone, 1 - first);
    cab::Reader r(std::make_unique<cab::MemoryInStream>(bytes), "memory");
    ASSERT_EQ(r.members().size(), 2u);
    EXPECT_EQ(outcome(r, first).rfind("error: memory ", 0), 0u);
    EXPECT_EQ(outcome(r, 1 - first), expected);
    EXPECT_NE(expected.find(r.members()[1 - first].name), std::string::npos) << expected;
  }
}

// An output that fails (a full disk) part way through a member.
class FailingOut : public cab::OutStream {
 public:
  void write(const void*, size_t n) override {
    if ((written_ += n) > 1000) throw cab::CabError("the disk is full");
  }
  void patch(uint64_t, const void*, size_t) override {}
  uint64_t written() const override { return written_; }

 private:
  uint64_t written_ = 0;
};

TEST(Reader, AMemberWhoseWritingFailedLeavesTheOthersWhole) {
  Files files = {{"System.dat", registryText(200000, 4)}, {"User.dat", registryText(90000, 5)}, {"info.txt", "i"}};
  std::string bytes = makeCabinet(files);
  cab::Reader r(std::make_unique<cab::MemoryInStream>(bytes), "memory");
  FailingOut full;
  EXPECT_THROW(r.extract(0, full), cab::CabError);
  for (size_t i : {1u, 0u, 2u}) {
    cab::MemoryOutStream out;
    r.extract(i, out);
    EXPECT_EQ(out.bytes(), files[i].second) << files[i].first;
  }
}

struct Damage {
  const char* what;
  std::string (*apply)(std::string);
  const char* message;
};

class ReaderDamage : public testing::TestWithParam<Damage> {};

TEST_P(ReaderDamage, FailsWithAMessageNamingTheCabinet) {
  std::string good = makeCabinet({{"System.dat", registryText(100000, 3)}, {"info.txt", "hello"}});
  std::string bad = GetParam().apply(good);
  try {
    Files f = readCabinet(bad);
    FAIL() << "read a damaged cabinet";
  } catch (const cab::CabError& e) {
    EXPECT_NE(std::string(e.what()).find("memory"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReaderDamage,
    testing::Values(
        Damage{"not_a_cabinet", [](std::string) { return std::string("REGEDIT4\r\n\r\n[HKEY_USERS]\r\n"); },
               "is not a cabinet"},
        Damage{"empty", [](std::string) { return std::string(); }, "is not a cabinet"},
        Damage{"truncated_data", [](std::string s) { return s.substr(0, s.size() - 100); }, "truncated"},
        Damage{"truncated_header", [](std::string s) { return s.substr(0, 30); }, "truncated"},
        Damage{"bad_checksum",
               [](std::string s) {
                 s[s.size() - 50] ^= 0x10;
                 return s;
               },
               "checksum"}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
