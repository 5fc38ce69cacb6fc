#include "LocalHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
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

bool LocalHttpServer::stopping(int waitMs) const {
  pollfd fd{stopPipe_[0], POLLIN, 0};
  return ::poll(&fd, 1, waitMs) > 0;
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

const char* phrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

}  // namespace

// False once the client has gone.
bool LocalHttpServer::sendAll(int fd, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

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
  Response r{404, "<html><body>Not Found</body></html>"};
  {
    std::lock_guard lock(mu_);
    requests_.push_back(path);
    if (auto it = responses_.find(path); it != responses_.end()) r = it->second;
  }
  if (r.silent) {
    // Until the client gives up or the server stops.
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    while (::poll(fds, 2, -1) > 0 && fds[1].revents == 0) {
      if (::recv(fd, buffer, sizeof buffer, 0) <= 0) return;
    }
    return;
  }
  const uint64_t length = r.generated > 0 ? r.generated : r.body.size();
  const std::string head = "HTTP/1.1 " + std::to_string(r.status) + " " + phrase(r.status) +
                           "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                           std::to_string(length) + "\r\nConnection: close\r\n\r\n";
  if (!sendAll(fd, head.data(), head.size())) return;
  if (r.generated > 0) {
    const std::string block(65536, '\x9E');
    for (uint64_t left = r.generated; left > 0;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
      if (!sendAll(fd, block.data(), n)) return;
      sent_ += n;
      left -= n;
    }
    return;
  }
  if (r.dripEveryMs > 0) {
    for (char c : r.body) {
      if (stopping(r.dripEveryMs) || !sendAll(fd, &c, 1)) return;
      ++sent_;
    }
    return;
  }
  const size_t n = r.cut ? r.body.size() / 2 : r.body.size();
  if (sendAll(fd, r.body.data(), n)) sent_ += n;
}
