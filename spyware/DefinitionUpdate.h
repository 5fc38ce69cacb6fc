#pragma once
// Fetches the three definition files from the update server and replaces the
// local ones. All three are fetched first; each must come with status 200
// and a body; only then are the files replaced (each written beside its
// target and renamed into place). On any failure nothing is replaced.
#include <array>
#include <filesystem>
#include <functional>
#include <string>

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

struct HttpResponse {
  bool transferred = false;  // the whole answer arrived
  long status = 0;
  std::string body;
  std::string error;         // why the transfer failed
};

// A blocking GET. Proxies come from the host's environment, except for the
// local host, which is always reached directly.
HttpResponse httpGet(const std::string& url);

struct UpdateResult {
  bool ok = false;
  std::string failedUrl;  // the download (or file) that failed
  std::string reason;     // "the server answered 404 Not Found", ...
};

// baseUrl: scheme and host ("http://update.vantrel.example"); utilDir: the host
// folder of the program's util folder. progress, when given, is called
// before each request.
UpdateResult updateDefinitions(const std::string& baseUrl, const std::filesystem::path& utilDir,
                               const std::function<void(const DefinitionDownload&)>& progress = {});

}  // namespace spyware
