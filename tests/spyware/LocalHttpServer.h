#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the update tests: answers each
// path as told (status, body, a connection cut halfway, a large generated
// body, a body dripped out slowly, or nothing at all), 404 otherwise, and
// records the paths in the order they were asked for.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LocalHttpServer {
 public:
  struct Response {
    int status = 200;
    std::string body;
    bool cut = false;            // promise the whole body, send half of it, hang up
    uint64_t generated = 0;      // send this many bytes of a pattern instead of body
    int dripEveryMs = 0;         // send the body one byte at a time, this far apart
    bool silent = false;         // read the request, then send nothing
  };

  LocalHttpServer();
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int port() const { return port_; }
  void set(const std::string& path, Response r);
  std::vector<std::string> requests() const;
  // Body bytes sent so far, all answers together.
  uint64_t bodyBytesSent() const { return sent_; }

 private:
  void serve();
  void answer(int fd);
  bool stopping(int waitMs) const;
  bool sendAll(int fd, const char* data, size_t size);

  int listenFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  int port_ = 0;
  mutable std::mutex mu_;
  std::map<std::string, Response> responses_;
  std::vector<std::string> requests_;
  std::atomic<uint64_t> sent_{0};
  std::thread thread_;
};
