#pragma once
// A program run beside the test: its output read line by line, killed or
// waited for.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace testing_fat {

class Child {
 public:
  explicit Child(const std::vector<std::string>& argv) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      int devnull = ::open("/dev/null", O_RDWR);
      ::dup2(devnull, 0);
      ::close(out[0]);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(out[1]);
    fd_ = out[0];
  }
  ~Child() {
    kill();
    if (fd_ >= 0) ::close(fd_);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The next line of output (without its line end); empty at the end or
  // after timeoutMs.
  std::string readLine(int timeoutMs = 20000) {
    for (;;) {
      size_t nl = buf_.find('\n');
      if (nl != std::string::npos) {
        std::string line = buf_.substr(0, nl);
        buf_.erase(0, nl + 1);
        return line;
      }
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, timeoutMs) <= 0) return {};
      char b[4096];
      ssize_t n = ::read(fd_, b, sizeof b);
      if (n <= 0) return {};
      buf_.append(b, static_cast<size_t>(n));
    }
  }
  void kill() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }
  // The exit status; -1 when it did not exit by itself.
  int wait() {
    int status = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string buf_;
};

}  // namespace testing_fat
