#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "LocalHttpServer.h"
#include "spyware/DefinitionUpdate.h"

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void spit(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

std::string binary(size_t length, int seed) {
  std::string s(length, '\0');
  for (size_t i = 0; i < length; ++i) s[i] = static_cast<char>((i * 31 + seed) & 0xFF);
  return s;
}

const std::vector<std::string> kPaths = {"/spydef/antispy.enc", "/spydef/spylist.enc",
                                         "/spydef/undospy.enc"};
const std::vector<std::string> kFiles = {"antispy.enc", "spylist.enc", "undospy.enc"};

class DefinitionUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    util_ = fs::temp_directory_path() /
            ("spyupdate-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(util_);
    fs::create_directories(util_);
    for (size_t i = 0; i < 3; ++i) spit(util_ / kFiles[i], std::string(40000, 'o') + kFiles[i]);
    for (size_t i = 0; i < 3; ++i) server_.set(kPaths[i], {200, binary(1000 + 7000 * i, int(i)), false});
  }
  void TearDown() override { fs::remove_all(util_); }

  void expectOldFiles() {
    for (const auto& f : kFiles) EXPECT_EQ(slurp(util_ / f), std::string(40000, 'o') + f) << f;
    // Nothing staged is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(util_), fs::directory_iterator()), 3);
  }

  LocalHttpServer server_;
  fs::path util_;
};

}  // namespace

TEST_F(DefinitionUpdateTest, ReplacesAllThreeInOrder) {
  // Shorter than the old files: nothing of the old content may remain.
  std::vector<std::string> bodies = {binary(1, 1), binary(10241, 2), std::string(1, '\0')};
  for (size_t i = 0; i < 3; ++i) server_.set(kPaths[i], {200, bodies[i], false});
  std::vector<std::string> announced;
  const auto r = spyware::updateDefinitions(server_.baseUrl() + "/", util_,
                                            [&](const auto& d) { announced.push_back(d.urlPath); });
  ASSERT_TRUE(r.ok) << r.failedUrl << ": " << r.reason;
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(slurp(util_ / kFiles[i]), bodies[i]) << kFiles[i];
  EXPECT_EQ(server_.requests(), kPaths);
  EXPECT_EQ(announced, kPaths);
  EXPECT_EQ(std::distance(fs::directory_iterator(util_), fs::directory_iterator()), 3);
}

// Any bad answer, for any of the three, keeps every old file and names the
// download and the reason.
TEST_F(DefinitionUpdateTest, FailuresKeepTheOldFiles) {
  struct Case {
    LocalHttpServer::Response response;
    const char* reason;
  };
  const Case cases[] = {
      {{404, "<html>Not Found</html>", false}, "the server answered 404 Not Found"},
      {{500, "<html>oops</html>", false}, "the server answered 500 Internal Server Error"},
      {{200, "", false}, "the server sent an empty file"},
      {{200, binary(50000, 3), true}, "the transfer failed: "},
  };
  for (size_t which = 0; which < 3; ++which) {
    for (const Case& c : cases) {
      SCOPED_TRACE(kPaths[which] + " " + c.reason);
      SetUp();
      server_.set(kPaths[which], c.response);
      const auto before = server_.requests().size();
      const auto r = spyware::updateDefinitions(server_.baseUrl(), util_);
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.failedUrl, server_.baseUrl() + kPaths[which]);
      EXPECT_EQ(r.reason.rfind(c.reason, 0), 0u) << r.reason;
      expectOldFiles();
      // The first failure ends the update: no later request is made.
      EXPECT_EQ(server_.requests().size() - before, which + 1);
    }
  }
}

TEST_F(DefinitionUpdateTest, NoServerListening) {
  std::string base;
  {
    LocalHttpServer gone;
    base = gone.baseUrl();
  }
  const auto r = spyware::updateDefinitions(base, util_);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedUrl, base + "/spydef/antispy.enc");
  EXPECT_EQ(r.reason.rfind("the transfer failed: ", 0), 0u) << r.reason;
  expectOldFiles();
}

TEST_F(DefinitionUpdateTest, ReadOnlyFileStopsTheReplacementBeforeAnyRename) {
  fs::permissions(util_ / "undospy.enc", fs::perms::owner_read);
  const auto r = spyware::updateDefinitions(server_.baseUrl(), util_);
  fs::permissions(util_ / "undospy.enc", fs::perms::owner_all);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.reason.find("undospy.enc"), std::string::npos) << r.reason;
  expectOldFiles();
}
