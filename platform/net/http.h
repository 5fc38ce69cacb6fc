#pragma once
// HTTP downloads for the program. A transfer is moved on in small steps
// from the user-interface loop, so the window keeps painting: no step waits
// longer than it is told to.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace platform::net {

// Takes each piece of the body as it arrives; false stops the transfer.
using BodySink = std::function<bool(std::string_view piece)>;

class HttpTransfer {
 public:
  enum class End { Running, Complete, Failed, TimedOut, Stopped };

  virtual ~HttpTransfer() = default;
  // Moves the transfer on, waiting at most waitMs for the network. False
  // once it has ended.
  virtual bool step(int waitMs) = 0;
  // Cancels a running transfer (it ends as Stopped).
  virtual void stop() = 0;

  virtual End end() const = 0;
  // The connection to the server stands (or stood).
  virtual bool connected() const = 0;
  // Bytes of the answer, head and body, that came so far.
  virtual uint64_t answerBytes() const = 0;
  // The status of a complete answer (after redirects).
  virtual long status() const = 0;
  // What failed, for End::Failed.
  virtual std::string error() const = 0;
};

class Http {
 public:
  virtual ~Http() = default;
  // A GET of url that gives up by itself timeoutMs from now (TimedOut).
  virtual std::unique_ptr<HttpTransfer> get(const std::string& url, int64_t timeoutMs,
                                            BodySink body) = 0;
};

// The host's HTTP client (libcurl): http and https only, at most five
// redirects within them, no content decoding, proxies from the host's
// environment except for the local host, which is always reached directly.
class HostHttp : public Http {
 public:
  HostHttp();
  std::unique_ptr<HttpTransfer> get(const std::string& url, int64_t timeoutMs, BodySink body) override;
};

}  // namespace platform::net
