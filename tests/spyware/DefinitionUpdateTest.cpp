// The definition update against a real HTTP server on 127.0.0.1, with the
// host's HTTP client: what is refused and why, how soon a slow server is
// given up, and that the files are replaced all three or not at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "LocalHttpServer.h"
#include "tests/support/host_attributes.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/net/http.h"
#include "spyware/DefinitionUpdate.h"
#include "spyware/FileConverter.h"
#include "tests/support/test_machine.h"

using namespace std::chrono_literals;
using spyware::ConvertString;
using TempMachine = testsupport::TestMachine;

namespace {

const std::vector<std::string> kPaths = {"/spydef/antispy.enc", "/spydef/spylist.enc", "/spydef/undospy.enc"};
const std::string kClsid =
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Internet Explorer\\ActiveX Compatibility\\"
    "{5DCE4506-356D-41C7-8096-0BAAAA64B48D}";

// Good definition files as the server sends them (encoded).
const std::vector<std::string> kGood = {
    ConvertString("REGEDIT4\r\n\r\n[" + kClsid + "]\r\n\"Compatibility Flags\"=dword:00000400\r\n"),
    ConvertString("Gator\r\nBonzi Buddy\r\n"),
    ConvertString("REGEDIT4\r\n\r\n[" + kClsid + "]\r\n\"Compatibility Flags\"=-\r\n"),
};

struct Outcome {
  bool ok = false;
  std::string failedUrl, reason;
  std::chrono::milliseconds took{0};
  uint64_t received = 0;
};

Outcome fetch(const std::string& base, spyware::UpdateLimits limits = {}) {
  platform::net::HostHttp http;
  const auto start = std::chrono::steady_clock::now();
  spyware::DefinitionFetch f(http, base, limits);
  while (f.step(20)) {
  }
  return {f.ok(), f.failedUrl(), f.reason(),
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start),
          f.received()};
}

class DefinitionUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (size_t i = 0; i < 3; ++i) server_.set(kPaths[i], {200, kGood[i]});
  }
  LocalHttpServer server_;
};

}  // namespace

TEST_F(DefinitionUpdateTest, FetchesTheThreeInOrder) {
  platform::net::HostHttp http;
  spyware::DefinitionFetch f(http, server_.baseUrl() + "/");
  while (f.step(20)) {
  }
  ASSERT_TRUE(f.ok()) << f.failedUrl() << ": " << f.reason();
  for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(f.files()[i] == kGood[i]) << kPaths[i];
  EXPECT_EQ(server_.requests(), kPaths);
  EXPECT_EQ(f.received(), kGood[0].size() + kGood[1].size() + kGood[2].size());
}

// Any bad answer, for any of the three, ends the update there and names
// the download and the reason.
TEST_F(DefinitionUpdateTest, RefusedAnswersNameTheFileAndWhy) {
  struct Case {
    LocalHttpServer::Response response;
    std::string reason;  // how it starts
    bool script = false;  // refused as a script only (as a list it is text)
  };
  const Case cases[] = {
      {{404, "<html>Not Found</html>"}, "the server answered 404 Not Found"},
      {{500, "<html>oops</html>"}, "the server answered 500 Internal Server Error"},
      {{200, ""}, "the server sent an empty file"},
      {{200, kGood[1] + kGood[1], true}, "the transfer failed: "},
      {{200, "<html>\r\n<body>Welcome</body>\r\n</html>\r\n"},
       "it is not a spyware definition file: line 1 does not end with CR LF"},
      {{200, ConvertString("REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\exefile\\shell\\open\\command]\r\n"
                           "@=\"C:\\\\WINDOWS\\\\evil.exe \\\"%1\\\" %*\"\r\n")},
       "it is not a spyware definition file: line 3 is not allowed: "
       "\"[HKEY_CLASSES_ROOT\\exefile\\shell\\open\\command]\"",
       true},
  };
  for (size_t which = 0; which < 3; ++which) {
    for (const Case& c : cases) {
      if (c.script && which == 1) continue;
      SCOPED_TRACE(kPaths[which] + " " + c.reason);
      SetUp();
      server_.set(kPaths[which], c.response);
      const auto before = server_.requests().size();
      const Outcome r = fetch(server_.baseUrl());
      EXPECT_FALSE(r.ok);
      EXPECT_EQ(r.failedUrl, server_.baseUrl() + kPaths[which]);
      EXPECT_EQ(r.reason.rfind(c.reason, 0), 0u) << r.reason;
      EXPECT_EQ(server_.requests().size() - before, which + 1) << "no request after the first failure";
    }
  }
}

// A body over the limit is refused as it grows past it: the server has not
// sent more than a few socket buffers beyond, and no more is kept.
TEST_F(DefinitionUpdateTest, OversizedBodyIsRefusedAsSoonAsItPassesTheLimit) {
  const uint64_t limit = 256 * 1024;
  server_.set(kPaths[1], {200, "", false, 64ull << 20});
  const Outcome r = fetch(server_.baseUrl(), {limit, 60000ms});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedUrl, server_.baseUrl() + kPaths[1]);
  EXPECT_EQ(r.reason, "the file is larger than 256 KiB");
  EXPECT_LE(r.received, kGood[0].size() + limit);
  EXPECT_LT(server_.bodyBytesSent(), 16ull << 20);
}

// The time limit is for the whole update, whatever the server does; the
// message says what it was doing.
TEST_F(DefinitionUpdateTest, SlowServersAreGivenUpWithinTheTimeLimit) {
  struct Case {
    std::vector<LocalHttpServer::Response> answers;  // for the three paths
    size_t failing;
    std::string reason;
  };
  // A body that takes about ms to arrive.
  auto dripped = [](const std::string& body, int ms) {
    return LocalHttpServer::Response{200, body, false, 0, std::max(1, ms / static_cast<int>(body.size()))};
  };
  std::string longList;
  for (int i = 0; i < 50; ++i) longList += "Gator\r\n";
  const LocalHttpServer::Response silent{200, "", false, 0, 0, true};
  const Case cases[] = {
      {{silent, {200, kGood[1]}, {200, kGood[2]}}, 0,
       "the update did not finish within 1.5 seconds: the server did not answer"},
      {{{200, kGood[0]}, dripped(ConvertString(longList), 10000), {200, kGood[2]}}, 1,
       "the update did not finish within 1.5 seconds: the server was still sending ("},
      // Each file comes whole within the limit, but not all of them.
      {{{200, kGood[0]}, dripped(kGood[1], 1000), dripped(kGood[2], 1000)}, 2,
       "the update did not finish within 1.5 seconds: the server was still sending ("},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    LocalHttpServer server;
    for (size_t i = 0; i < 3; ++i) server.set(kPaths[i], c.answers[i]);
    const Outcome r = fetch(server.baseUrl(), {spyware::kMaxDefinitionBytes, 1500ms});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failedUrl, server.baseUrl() + kPaths[c.failing]);
    EXPECT_EQ(r.reason.rfind(c.reason, 0), 0u) << r.reason;
    EXPECT_GE(r.took, 1400ms);
    EXPECT_LT(r.took, 3000ms);
  }
}

TEST_F(DefinitionUpdateTest, NoServerListening) {
  std::string base;
  {
    LocalHttpServer gone;
    base = gone.baseUrl();
  }
  const Outcome r = fetch(base);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failedUrl, base + kPaths[0]);
  EXPECT_EQ(r.reason.rfind("the transfer failed: ", 0), 0u) << r.reason;
}

TEST(DefinitionTimeText, Seconds) {
  EXPECT_EQ(spyware::secondsText(60000ms), "60 seconds");
  EXPECT_EQ(spyware::secondsText(1000ms), "1 second");
  EXPECT_EQ(spyware::secondsText(1500ms), "1.5 seconds");
}

namespace {

const std::string kUtil = "C:\\Program Files\\Brakvel 9x\\util";
const std::vector<std::string> kFiles = {"antispy.enc", "spylist.enc", "undospy.enc"};

class ReplaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::makeFolder(m_, kUtil);
    for (const auto& f : kFiles) platform::writeFile(m_, at(f), std::string(40000, 'o') + f);
  }
  std::string at(const std::string& name) const { return kUtil + "\\" + name; }
  void expectOldFiles() {
    for (const auto& f : kFiles) EXPECT_TRUE(platform::readFile(m_, at(f)) == std::string(40000, 'o') + f) << f;
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(m_.toHost(kUtil))) ++entries;
    EXPECT_EQ(entries, 3u) << "nothing staged is left behind";
  }
  TempMachine tm_;
  platform::Machine m_ = tm_.open();
  const std::array<std::string, 3> new_{kGood[0], kGood[1], kGood[2]};
};

}  // namespace

TEST_F(ReplaceTest, ReplacesAllThreeKeepingTheirAttributes) {
  platform::setAttributes(m_, at("spylist.enc"), platform::kHidden);
  const auto r = spyware::replaceDefinitionFiles(m_, kUtil, new_);
  ASSERT_TRUE(r.ok) << r.error;
  for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(platform::readFile(m_, at(kFiles[i])) == new_[i]) << kFiles[i];
  EXPECT_EQ(platform::getAttributes(m_, at("spylist.enc")), testsupport::attributesKept(m_, 'C', platform::kHidden | platform::kArchive));
}

TEST_F(ReplaceTest, ReadOnlyFileStopsTheReplacementBeforeAnyWrite) {
  platform::setAttributes(m_, at("undospy.enc"), platform::kReadOnly);
  const auto r = spyware::replaceDefinitionFiles(m_, kUtil, new_);
  platform::setAttributes(m_, at("undospy.enc"), platform::kNormal);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, at("undospy.enc") + " cannot be replaced (Permission denied)");
  expectOldFiles();
}

// The last file cannot be written (a folder stands in its place): the two
// already replaced get their old bytes back.
TEST_F(ReplaceTest, FailedWriteGivesTheReplacedFilesTheirOldBytesBack) {
  platform::deleteFile(m_, at("undospy.enc"));
  platform::makeFolder(m_, at("undospy.enc"));
  const auto r = spyware::replaceDefinitionFiles(m_, kUtil, new_);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error.rfind(at("undospy.enc") + " cannot be replaced (", 0), 0u) << r.error;
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_TRUE(platform::readFile(m_, at(kFiles[i])) == std::string(40000, 'o') + kFiles[i]) << kFiles[i];
  }
  EXPECT_TRUE(platform::folderExists(m_, at("undospy.enc")));
}
