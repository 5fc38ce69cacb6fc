#include "support.h"

#include "platform/registry/creg_file.h"
#include "platform/registry/hive_store.h"

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
  using namespace platform::hive;
  auto empty = [](HiveId id) { return cregBytes(Hive(kHiveTop[id]).top()); };
  std::ofstream(dir / "drive_c" / "WINDOWS" / "System.dat", std::ios::binary) << empty(kSystemHive);
  std::ofstream(dir / "drive_c" / "WINDOWS" / "User.dat", std::ios::binary) << empty(kUserHive);
  if (classesDat) std::ofstream(dir / "drive_c" / "WINDOWS" / "Classes.dat", std::ios::binary) << empty(kClassesHive);
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
    if (machineDir.empty() || std::string(*e).rfind("BRAKVEL9X_MACHINE=", 0) != 0) env.emplace_back(*e);
  if (!machineDir.empty()) env.push_back("BRAKVEL9X_MACHINE=" + machineDir.string());
  return env;
}

int spawn(const std::vector<std::string>& args, const fs::path& machineDir, posix_spawn_file_actions_t* actions) {
  std::vector<std::string> argStore = args;
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  auto envStore = environmentFor(machineDir);
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, argStore[0].c_str(), actions, nullptr, argv.data(), envp.data()) != 0)
    throw std::runtime_error("cannot start " + argStore[0]);
  return pid;
}

std::vector<std::string> regeditArgs(const std::vector<std::string>& args) {
  std::vector<std::string> a{REGEDIT_EXE};
  a.insert(a.end(), args.begin(), args.end());
  return a;
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
  int pid = spawn(regeditArgs(args), machineDir, &fa);
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

Run regedit(const fs::path& machineDir, const std::vector<std::string>& args, const std::string& input) {
  return run(regeditArgs(args), machineDir, input);
}

Run run(const std::vector<std::string>& argv, const fs::path& machineDir, const std::string& input) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
    throw std::runtime_error("pipe");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  int pid = spawn(argv, machineDir, &fa);
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

std::string dumpTree(const platform::hive::Key& top) {
  static const char* digits = "0123456789abcdef";
  auto hex = [](std::string& out, std::string_view s) {
    for (unsigned char c : s) {
      out += digits[c >> 4];
      out += digits[c & 15];
    }
  };
  std::string out;
  std::vector<std::pair<const platform::hive::Key*, size_t>> stack{{&top, 0}};
  while (!stack.empty()) {
    auto [k, depth] = stack.back();
    stack.pop_back();
    out += "K " + std::to_string(depth) + " ";
    if (depth) hex(out, k->name());
    out += '\n';
    for (size_t i = 0; i < k->valueCount(); ++i) {
      const auto& v = k->value(i);
      out += "V ";
      hex(out, v.name);
      out += " " + std::to_string(v.type) + " ";
      hex(out, v.data);
      out += '\n';
    }
    for (size_t i = k->childCount(); i-- > 0;) stack.emplace_back(&k->child(i), depth + 1);
  }
  return out;
}

Run libcregDump(const fs::path& file) { return run({PYCREG_PYTHON, CREG_DUMP_PY, file.string()}); }

}  // namespace regtest
