#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

std::string describe(const std::vector<std::string>& argv) {
  std::string s;
  for (const std::string& a : argv) s += (s.empty() ? "" : " ") + quote(a);
  return s;
}

int statusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
  return -1;
}

// The child leads a process group of its own, so that a kill at the budget
// also ends what it started.
pid_t spawn(const std::vector<std::string>& argv, const RunOptions& options, posix_spawn_file_actions_t* actions,
            std::string* error) {
  if (argv.empty()) {
    *error = "nothing to run";
    return -1;
  }
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);
  EnvChanges changes = options.env;
  if (!options.machine.empty()) changes.emplace_back("BRAKVEL9X_MACHINE", options.machine.string());
  std::vector<std::string> env = childEnvironment(changes);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  if (!options.cwd.empty()) posix_spawn_file_actions_addchdir_np(actions, options.cwd.c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setpgroup(&attr, 0);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  bool search = args[0].find('/') == std::string::npos;
  int rc = search ? posix_spawnp(&pid, args[0].c_str(), actions, &attr, argp.data(), envp.data())
                  : posix_spawn(&pid, args[0].c_str(), actions, &attr, argp.data(), envp.data());
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    *error = "cannot start " + args[0] + ": " + ::strerror(rc);
    return -1;
  }
  return pid;
}

void killGroup(pid_t pid) {
  ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL);
}

int remainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

Ran run(const std::vector<std::string>& argv, Budget budget, const RunOptions& options) {
  Ran r;
  ::signal(SIGPIPE, SIG_IGN);
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) {
    r.err = "cannot make pipes";
    return r;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, options.mergeOutput ? out[1] : err[1], 2);
  std::string error;
  pid_t pid = spawn(argv, options, &fa, &error);
  posix_spawn_file_actions_destroy(&fa);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  if (pid < 0) {
    ::close(in[1]);
    ::close(out[0]);
    ::close(err[0]);
    r.err = error;
    return r;
  }
  const auto deadline = Clock::now() + budget;
  int inFd = in[1];
  size_t written = 0;
  if (options.input.empty()) {
    ::close(inFd);
    inFd = -1;
  } else {
    ::fcntl(inFd, F_SETFL, O_NONBLOCK);
  }
  pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {inFd, POLLOUT, 0}};
  char buf[65536];
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    int wait = remainingMs(deadline);
    if (wait == 0) {
      r.timedOut = true;
      break;
    }
    if (::poll(fds, 3, wait) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
    if (fds[2].fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t n = ::write(fds[2].fd, options.input.data() + written, options.input.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if (n < 0 && errno != EAGAIN && errno != EINTR) written = options.input.size();
      if (written == options.input.size()) {
        ::close(fds[2].fd);
        fds[2].fd = -1;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) ::close(f.fd);
  int st = 0;
  if (!r.timedOut) {
    // The outputs closed; the child may still linger.
    while (true) {
      pid_t done = ::waitpid(pid, &st, WNOHANG);
      if (done == pid) break;
      if (done < 0 && errno != EINTR) break;
      if (remainingMs(deadline) == 0) {
        r.timedOut = true;
        break;
      }
      std::this_thread::sleep_for(2ms);
    }
  }
  if (r.timedOut) {
    killGroup(pid);
    while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    r.status = -1;
    std::string what = describe(argv) + " ran longer than its budget of " + std::to_string(budget.count()) +
                       " ms and was killed";
    r.err += (r.err.empty() ? "" : "\n") + what;
    ADD_FAILURE() << what << "; its output so far:\n" << r.out;
    return r;
  }
  r.status = statusOf(st);
  return r;
}

Ran runShell(const std::string& command, Budget budget, const RunOptions& options) {
  return run({"/bin/sh", "-c", command}, budget, options);
}

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool haveProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::string p = path ? path : "/usr/bin:/bin";
  for (size_t at = 0; at <= p.size();) {
    size_t end = p.find(':', at);
    if (end == std::string::npos) end = p.size();
    std::string dir = p.substr(at, end - at);
    if (dir.empty()) dir = ".";
    if (::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    at = end + 1;
  }
  return false;
}

Child::Child(const std::vector<std::string>& argv, Output output, const RunOptions& options)
    : name_(describe(argv)) {
  int out[2] = {-1, -1};
  if (output == Output::Lines && ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (output == Output::Lines) {
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  }
  std::string error;
  pid_ = spawn(argv, options, &fa, &error);
  posix_spawn_file_actions_destroy(&fa);
  if (out[1] >= 0) ::close(out[1]);
  fd_ = out[0];
  if (pid_ < 0) {
    if (fd_ >= 0) ::close(fd_);
    throw std::runtime_error(error);
  }
}

Child::~Child() {
  kill();
  if (fd_ >= 0) ::close(fd_);
}

std::string Child::readLine(Budget budget) {
  const auto deadline = Clock::now() + budget;
  for (;;) {
    size_t nl = buf_.find('\n');
    if (nl != std::string::npos) {
      std::string line = buf_.substr(0, nl);
      buf_.erase(0, nl + 1);
      return line;
    }
    if (fd_ < 0) return {};
    pollfd p{fd_, POLLIN, 0};
    int n = ::poll(&p, 1, remainingMs(deadline));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ADD_FAILURE() << name_ << " wrote no whole line within " << budget.count() << " ms";
      return {};
    }
    char b[4096];
    ssize_t got = ::read(fd_, b, sizeof b);
    if (got <= 0) return {};
    buf_.append(b, static_cast<size_t>(got));
  }
}

int Child::kill() {
  if (pid_ <= 0) return -1;
  killGroup(pid_);
  int st = 0;
  pid_t done;
  while ((done = ::waitpid(pid_, &st, 0)) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return done < 0 ? -1 : statusOf(st);
}

int Child::wait(Budget budget) {
  if (pid_ <= 0) return -1;
  const auto deadline = Clock::now() + budget;
  int st = 0;
  for (;;) {
    pid_t done = ::waitpid(pid_, &st, WNOHANG);
    if (done == pid_) break;
    if (done < 0 && errno != EINTR) {
      pid_ = -1;
      return -1;
    }
    if (remainingMs(deadline) == 0) {
      ADD_FAILURE() << name_ << " ran longer than its budget of " << budget.count() << " ms and was killed";
      kill();
      return -1;
    }
    std::this_thread::sleep_for(2ms);
  }
  pid_ = -1;
  return statusOf(st);
}

}  // namespace testsupport
