#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for the update tests: answers each
// path as told (status, body, a connection cut halfway), 404 otherwise, and
// records the paths in the order they were asked for.
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
    bool cut = false;  // promise the whole body, send half of it, hang up
  };

  LocalHttpServer();
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int port() const { return port_; }
  void set(const std::string& path, Response r);
  std::vector<std::string> requests() const;

 private:
  void serve();
  void answer(int fd);

  int listenFd_ = -1;
  int stopPipe_[2] = {-1, -1};
  int port_ = 0;
  mutable std::mutex mu_;
  std::map<std::string, Response> responses_;
  std::vector<std::string> requests_;
  std::thread thread_;
};
