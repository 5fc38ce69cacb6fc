#include "platform/net/http.h"

#include <curl/curl.h>

#include <mutex>

namespace platform::net {

namespace {

class CurlTransfer : public HttpTransfer {
 public:
  CurlTransfer(const std::string& url, int64_t timeoutMs, BodySink body) : body_(std::move(body)) {
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
    if (easy_ == nullptr || multi_ == nullptr) {
      end_ = End::Failed;
      error_ = "the HTTP client could not be started";
      return;
    }
    CURL* c = easy_;
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &CurlTransfer::onBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &CurlTransfer::onHead);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(c, CURLOPT_PREREQFUNCTION, &CurlTransfer::onConnected);
    curl_easy_setopt(c, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Brakvel 9x");
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs > 0 ? timeoutMs : 1));
    // A name lookup that hangs must not hold the window when time is up.
    curl_easy_setopt(c, CURLOPT_QUICK_EXIT, 1L);
    if (curl_multi_add_handle(multi_, c) != CURLM_OK) {
      end_ = End::Failed;
      error_ = "the HTTP client could not be started";
      return;
    }
    added_ = true;
  }

  ~CurlTransfer() override {
    if (added_) curl_multi_remove_handle(multi_, easy_);
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
  }

  bool step(int waitMs) override {
    if (end_ != End::Running) return false;
    int running = 0;
    curl_multi_perform(multi_, &running);
    if (running > 0) {
      curl_multi_poll(multi_, nullptr, 0, waitMs > 0 ? waitMs : 0, nullptr);
      curl_multi_perform(multi_, &running);
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
      if (msg->msg == CURLMSG_DONE) finish(msg->data.result);
    }
    return end_ == End::Running;
  }

  void stop() override {
    if (end_ != End::Running) return;
    end_ = End::Stopped;
    curl_multi_remove_handle(multi_, easy_);
    added_ = false;
  }

  End end() const override { return end_; }
  bool connected() const override { return connected_; }
  uint64_t answerBytes() const override { return answerBytes_; }
  long status() const override { return status_; }
  std::string error() const override { return error_; }

 private:
  static size_t onBody(char* data, size_t size, size_t count, void* self) {
    auto* t = static_cast<CurlTransfer*>(self);
    const size_t n = size * count;
    t->answerBytes_ += n;
    if (!t->body_(std::string_view(data, n))) {
      t->refused_ = true;
      return 0;  // ends the transfer with a write error
    }
    return n;
  }
  static size_t onHead(char*, size_t size, size_t count, void* self) {
    static_cast<CurlTransfer*>(self)->answerBytes_ += size * count;
    return size * count;
  }
  static int onConnected(void* self, char*, char*, int, int) {
    static_cast<CurlTransfer*>(self)->connected_ = true;
    return CURL_PREREQFUNC_OK;
  }

  void finish(CURLcode code) {
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status_);
    if (code == CURLE_OK) {
      end_ = End::Complete;
    } else if (code == CURLE_WRITE_ERROR && refused_) {
      end_ = End::Stopped;
    } else if (code == CURLE_OPERATION_TIMEDOUT) {
      end_ = End::TimedOut;
    } else {
      end_ = End::Failed;
      error_ = errorBuffer_[0] != '\0' ? errorBuffer_ : curl_easy_strerror(code);
    }
  }

  BodySink body_;
  CURL* easy_ = nullptr;
  CURLM* multi_ = nullptr;
  bool added_ = false;
  End end_ = End::Running;
  bool connected_ = false;
  bool refused_ = false;
  uint64_t answerBytes_ = 0;
  long status_ = 0;
  std::string error_;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
};

}  // namespace

HostHttp::HostHttp() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::unique_ptr<HttpTransfer> HostHttp::get(const std::string& url, int64_t timeoutMs, BodySink body) {
  return std::make_unique<CurlTransfer>(url, timeoutMs, std::move(body));
}

}  // namespace platform::net
