#pragma once
// The definition update: the three definition files are fetched one after
// the other, each refused as soon as it grows past the size limit and
// checked (decoded) as soon as it is complete; the whole update gives up
// when its time is over, whether the server does not answer, stalls or
// drips. Only when all three have come whole and passed the check are the
// local files replaced, all three or none.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/net/http.h"
#include "spyware/DefinitionCheck.h"

namespace platform {
class Machine;
}

namespace spyware {

struct DefinitionDownload {
  const char* urlPath;   // on the update server
  const char* fileName;  // in the program's util folder
};

// The order of the requests.
inline constexpr std::array<DefinitionDownload, 3> kDefinitionDownloads{{
    {"/spydef/antispy.enc", "antispy.enc"},
    {"/spydef/spylist.enc", "spylist.enc"},
    {"/spydef/undospy.enc", "undospy.enc"},
}};

struct UpdateLimits {
  uint64_t maxFileBytes = kMaxDefinitionBytes;  // per file
  std::chrono::milliseconds time{60000};        // the whole update
};

// "60 seconds", "1.5 seconds".
std::string secondsText(std::chrono::milliseconds t);

class DefinitionFetch {
 public:
  // baseUrl: scheme and host ("http://update.vantrel.example").
  DefinitionFetch(platform::net::Http& http, std::string baseUrl, UpdateLimits limits = {});
  ~DefinitionFetch();
  DefinitionFetch(const DefinitionFetch&) = delete;
  DefinitionFetch& operator=(const DefinitionFetch&) = delete;

  // Moves the update on, waiting at most waitMs for the network. False once
  // it has ended, well or not.
  bool step(int waitMs);
  void cancel();

  bool ok() const { return done_ && failedUrl_.empty(); }
  // Bytes of definition files that have arrived so far, all three together.
  uint64_t received() const { return received_; }
  // The download that failed and why ("the server answered 404 Not Found").
  const std::string& failedUrl() const { return failedUrl_; }
  const std::string& reason() const { return reason_; }
  // The three files as the server sent them (still encoded), once ok().
  const std::array<std::string, 3>& files() const { return files_; }

 private:
  void start();
  void finish();
  void fail(std::string reason);
  std::string url() const;

  platform::net::Http& http_;
  std::string base_;
  UpdateLimits limits_;
  std::chrono::steady_clock::time_point deadline_;
  size_t next_ = 0;
  std::unique_ptr<platform::net::HttpTransfer> transfer_;
  bool tooLarge_ = false;
  bool done_ = false;
  uint64_t received_ = 0;
  std::array<std::string, 3> files_;
  std::string failedUrl_;
  std::string reason_;
};

struct ReplaceResult {
  bool ok = false;
  std::string error;  // which file could not be replaced, and why
};

// Replaces the definition files in utilFolder (a Windows path) by files:
// each is written beside its target and renamed into place; when one
// cannot be, those already replaced get their old bytes back.
ReplaceResult replaceDefinitionFiles(const platform::Machine& m, std::string_view utilFolder,
                                     const std::array<std::string, 3>& files);

}  // namespace spyware
