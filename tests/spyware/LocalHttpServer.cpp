#include "LocalHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

LocalHttpServer::LocalHttpServer() {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (listenFd_ < 0) throw std::runtime_error("socket");
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 16) != 0) {
    throw std::runtime_error("bind/listen on 127.0.0.1");
  }
  socklen_t len = sizeof addr;
  ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  if (::pipe(stopPipe_) != 0) throw std::runtime_error("pipe");
  thread_ = std::thread([this] { serve(); });
}

LocalHttpServer::~LocalHttpServer() {
  (void)!::write(stopPipe_[1], "x", 1);
  thread_.join();
  ::close(listenFd_);
  ::close(stopPipe_[0]);
  ::close(stopPipe_[1]);
}

void LocalHttpServer::set(const std::string& path, Response r) {
  std::lock_guard lock(mu_);
  responses_[path] = std::move(r);
}

std::vector<std::string> LocalHttpServer::requests() const {
  std::lock_guard lock(mu_);
  return requests_;
}

void LocalHttpServer::serve() {
  for (;;) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) return;
    if (fds[0].revents & POLLIN) {
      const int fd = ::accept(listenFd_, nullptr, nullptr);
      if (fd >= 0) {
        answer(fd);
        ::close(fd);
      }
    }
  }
}

namespace {

void sendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

const char* phrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

}  // namespace

void LocalHttpServer::answer(int fd) {
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    request.append(buffer, static_cast<size_t>(n));
  }
  const auto sp1 = request.find(' ');
  const auto sp2 = request.find(' ', sp1 + 1);
  const std::string path = request.substr(sp1 + 1, sp2 - sp1 - 1);
  Response r{404, "<html><body>Not Found</body></html>", false};
  {
    std::lock_guard lock(mu_);
    requests_.push_back(path);
    if (auto it = responses_.find(path); it != responses_.end()) r = it->second;
  }
  std::string head = "HTTP/1.1 " + std::to_string(r.status) + " " + phrase(r.status) +
                     "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                     std::to_string(r.body.size()) + "\r\nConnection: close\r\n\r\n";
  sendAll(fd, head);
  sendAll(fd, r.cut ? r.body.substr(0, r.body.size() / 2) : r.body);
}
