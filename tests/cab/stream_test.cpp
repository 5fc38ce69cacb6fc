// The file streams under the tools: reads through a window, writes through a
// second thread.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <random>

#include "cab/error.h"
#include "cab/stream.h"
#include "support.h"

using namespace cabtest;

namespace {

TEST(FileInStream, ReadsGiveTheFileBytesWhereverTheyStart) {
  TempDir dir;
  const std::string bytes = randomBytes(700 * 1024 + 13, 1);
  auto path = dir.path() / "data";
  spit(path, bytes);
  cab::FileInStream in(path, "data");
  ASSERT_EQ(in.size(), bytes.size());

  struct Case {
    uint64_t at;
    size_t n;
  } cases[] = {
      {0, 8},                      // a header
      {8, 300 * 1024},             // larger than the window
      {256 * 1024 - 3, 10},        // across the window's end
      {100, 50},                   // back into an earlier part
      {bytes.size() - 5, 100},     // past the end: only what is there
      {bytes.size(), 10},          // at the end: nothing
      {bytes.size() + 1000, 10},   // beyond it: nothing
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.at);
    in.seek(c.at);
    std::string got(c.n, '\0');
    size_t n = in.read(got.data(), c.n);
    got.resize(n);
    std::string want = c.at < bytes.size() ? bytes.substr(c.at, c.n) : "";
    EXPECT_EQ(got, want);
    EXPECT_EQ(in.tell(), c.at + n);
  }
}

TEST(FileOutStream, FileHoldsEveryWriteInOrderWithPatches) {
  TempDir dir;
  auto path = dir.path() / "out";
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  std::string want;
  {
    cab::FileOutStream out(fd, "out");
    std::mt19937 rng(7);
    // Many small writes, some larger than a buffer, a few megabytes in all.
    for (int i = 0; want.size() < (3u << 20); ++i) {
      size_t n = i % 17 == 0 ? (300u << 10) + rng() % 4096 : rng() % 5000;
      std::string chunk = randomBytes(n, static_cast<unsigned>(i));
      out.write(chunk.data(), chunk.size());
      want += chunk;
      if (i == 40) {  // a header whose counts are known later
        out.patch(2, "PATCH", 5);
        want.replace(2, 5, "PATCH");
      }
    }
    EXPECT_EQ(out.written(), want.size());
    out.flush();
  }
  EXPECT_EQ(slurp(path), want);
}

TEST(FileOutStream, AFailedWriteIsReportedNamingTheFile) {
  int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (fd < 0) GTEST_SKIP() << "no /dev/full";
  cab::FileOutStream out(fd, "C:\\KVT\\FULL.KVT");
  std::string chunk(64 * 1024, 'x');
  try {
    for (int i = 0; i < 64; ++i) out.write(chunk.data(), chunk.size());
    out.flush();
    FAIL() << "a full device took 4 MiB";
  } catch (const cab::CabError& e) {
    EXPECT_NE(std::string(e.what()).find("C:\\KVT\\FULL.KVT"), std::string::npos) << e.what();
  }
}

}  // namespace
