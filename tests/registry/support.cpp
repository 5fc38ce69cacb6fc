#include "support.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace regtest {

fs::path TempMachine::make(bool classesDat) {
  std::random_device rd;
  fs::path dir = fs::temp_directory_path() / ("brakvel-reg-" + std::to_string(rd()) + std::to_string(getpid()));
  fs::create_directories(dir / "drive_c" / "WINDOWS");
  std::ofstream(dir / "machine.ini") << "[Machine]\r\nVersion=" << (classesDat ? "ME" : "98")
                                     << "\r\n\r\n[Drives]\r\nC=drive_c\r\n\r\n[Environment]\r\n"
                                        "WinDir=C:\\WINDOWS\r\nPATH=C:\\WINDOWS;C:\\WINDOWS\\COMMAND\r\n";
  const char* empty = "REGEDIT4\r\n\r\n";
  std::ofstream(dir / "drive_c" / "WINDOWS" / "System.dat", std::ios::binary) << empty;
  std::ofstream(dir / "drive_c" / "WINDOWS" / "User.dat", std::ios::binary) << empty;
  if (classesDat) std::ofstream(dir / "drive_c" / "WINDOWS" / "Classes.dat", std::ios::binary) << empty;
  return dir;
}

TempMachine::TempMachine(bool classesDat)
    : dir_(make(classesDat)), m_(platform::Machine::open(dir_)) {}

TempMachine::~TempMachine() {
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

fs::path TempMachine::put(const std::string& rel, const std::string& bytes) const {
  fs::path p = dir_ / "drive_c" / rel;
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
  return p;
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

namespace {

std::vector<std::string> environmentFor(const fs::path& machineDir) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("BRAKVEL9X_MACHINE=", 0) != 0) env.emplace_back(*e);
  env.push_back("BRAKVEL9X_MACHINE=" + machineDir.string());
  return env;
}

int spawn(const fs::path& machineDir, const std::vector<std::string>& args,
          posix_spawn_file_actions_t* actions) {
  std::vector<std::string> argStore{REGEDIT_EXE};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  auto envStore = environmentFor(machineDir);
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, REGEDIT_EXE, actions, nullptr, argv.data(), envp.data()) != 0)
    throw std::runtime_error("cannot start " REGEDIT_EXE);
  return pid;
}

int waitStatus(int pid) {
  int st = 0;
  while (waitpid(pid, &st, 0) < 0) {
  }
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

}  // namespace

int startRegedit(const fs::path& machineDir, const std::vector<std::string>& args) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  int pid = spawn(machineDir, args, &fa);
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

Run regedit(const fs::path& machineDir, const std::vector<std::string>& args, const std::string& input) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
    throw std::runtime_error("pipe");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  int pid = spawn(machineDir, args, &fa);
  posix_spawn_file_actions_destroy(&fa);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  signal(SIGPIPE, SIG_IGN);
  if (!input.empty()) {
    ssize_t n = write(in[1], input.data(), input.size());
    (void)n;
  }
  close(in[1]);
  Run r;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  char buf[4096];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
      }
    }
  }
  r.status = waitStatus(pid);
  return r;
}

}  // namespace regtest
