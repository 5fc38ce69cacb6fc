#include "spyware/DefinitionUpdate.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace spyware {

namespace fs = std::filesystem;

namespace {

size_t collect(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

const char* reasonPhrase(long status) {
  switch (status) {
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 408: return "Request Timeout";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "";
  }
}

// A file written beside its target, renamed over it on commit, removed
// otherwise.
class StagedFile {
 public:
  StagedFile(const fs::path& target, const std::string& bytes) : target_(target) {
    // A read-only definition file stays as it is, as on Windows.
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && (old.st_mode & S_IWUSR) == 0) {
      throw std::runtime_error(why("cannot replace", EACCES));
    }
    std::string pattern = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error(why("cannot create a file beside", errno));
    temp_ = pattern;
    size_t done = 0;
    int err = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        err = errno;
        break;
      }
      done += static_cast<size_t>(n);
    }
    struct stat st {};
    ::fchmod(fd, ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644);
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err != 0) {
      discard();
      throw std::runtime_error(why("cannot write", err));
    }
  }
  ~StagedFile() { discard(); }
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  void commit() {
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
      throw std::runtime_error(why("cannot replace", errno));
    }
    temp_.clear();
  }

 private:
  std::string why(const char* what, int err) const {
    return std::string(what) + " " + target_.string() + ": " + std::strerror(err);
  }
  void discard() {
    if (!temp_.empty()) {
      std::error_code ec;
      fs::remove(temp_, ec);
      temp_.clear();
    }
  }
  fs::path target_;
  fs::path temp_;
};

}  // namespace

HttpResponse httpGet(const std::string& url) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  HttpResponse r;
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) {
    r.error = "the HTTP client could not be started";
    return r;
  }
  char errorBuffer[CURL_ERROR_SIZE] = {};
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &r.body);
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(c, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 30L);
  // A stalled server counts as a failed download rather than a hung window.
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, "Brakvel 9x");
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);

  const CURLcode code = curl_easy_perform(c);
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &r.status);
  if (code != CURLE_OK) {
    r.error = errorBuffer[0] != '\0' ? errorBuffer : curl_easy_strerror(code);
    return r;
  }
  r.transferred = true;
  return r;
}

UpdateResult updateDefinitions(const std::string& baseUrl, const fs::path& utilDir,
                               const std::function<void(const DefinitionDownload&)>& progress) {
  UpdateResult result;
  std::string base = baseUrl;
  while (!base.empty() && base.back() == '/') base.pop_back();

  std::vector<std::string> bodies;
  for (const auto& d : kDefinitionDownloads) {
    if (progress) progress(d);
    const std::string url = base + d.urlPath;
    HttpResponse r = httpGet(url);
    std::string reason;
    if (!r.transferred) {
      reason = "the transfer failed: " + r.error;
    } else if (r.status != 200) {
      const std::string phrase = reasonPhrase(r.status);
      reason = "the server answered " + std::to_string(r.status) + (phrase.empty() ? "" : " " + phrase);
    } else if (r.body.empty()) {
      reason = "the server sent an empty file";
    }
    if (!reason.empty()) {
      result.failedUrl = url;
      result.reason = reason;
      return result;
    }
    bodies.push_back(std::move(r.body));
  }

  // Stage all three before the first rename, so that a write failure
  // (a full disk) leaves every old file in place.
  std::vector<std::unique_ptr<StagedFile>> staged;
  for (size_t i = 0; i < kDefinitionDownloads.size(); ++i) {
    const fs::path target = utilDir / kDefinitionDownloads[i].fileName;
    try {
      staged.push_back(std::make_unique<StagedFile>(target, bodies[i]));
    } catch (const std::exception& e) {
      result.failedUrl = base + kDefinitionDownloads[i].urlPath;
      result.reason = e.what();
      return result;
    }
  }
  for (size_t i = 0; i < staged.size(); ++i) {
    try {
      staged[i]->commit();
    } catch (const std::exception& e) {
      result.failedUrl = base + kDefinitionDownloads[i].urlPath;
      result.reason = e.what();
      return result;
    }
  }
  result.ok = true;
  return result;
}

}  // namespace spyware
