// Program lines: the file a command names, found as DOS finds it (the
// current folder, then PATH; .COM, .EXE, .BAT) or as Windows resolves it,
// and started: a batch file is run here, a Windows program as a host child
// process, SETUP.EXE on the CD-ROM drive ends the machine's run.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/launcher.h"
#include "platform/text.h"
#include "tools/command/command_line.h"
#include "tools/command/interpreter.h"

extern char** environ;

namespace command {

using platform::upperAnsi;

void Interpreter::program(std::string_view line, const std::string& token, std::string_view rest,
                          Batch* batch) {
  std::string drive = hasDrive(token) ? upperAnsi(token.substr(0, 1)) : cwd_.substr(0, 1);
  if (cdDrive_ && drive[0] == cdDrive_) {
    std::string ext = extOf(token);
    if (stemOf(token) == "SETUP" && (ext.empty() || ext == ".EXE")) {
      setup(hasDrive(token) ? token : drive + ":\\" + token);
    } else {
      badCommand();
    }
    return;
  }
  if (hasDrive(token) && !platform::driveExists(m_, token[0])) {
    out_ << "Invalid drive specification\n";
    return;
  }
  if (paths_.mode() == Mode::Dos)
    programDos(token, rest, batch);
  else
    programWindows(line, batch);
}

std::optional<std::string> Interpreter::findDos(const std::string& token) const {
  std::vector<std::string> places;
  if (token.find_first_of("\\:") != std::string::npos) {
    places.push_back(abs(token));
  } else {
    places.push_back(abs(token));
    std::string p = var("PATH").value_or("");
    size_t start = 0;
    while (start <= p.size()) {
      size_t end = p.find(';', start);
      if (end == std::string::npos) end = p.size();
      std::string dir(trim(std::string_view(p).substr(start, end - start)));
      if (!dir.empty()) places.push_back(DosPaths::absolute(platform::winJoin(dir, token), cwd_));
      start = end + 1;
    }
  }
  const bool hasExt = !extOf(token).empty();
  for (auto& place : places) {
    if (hasExt) {
      if (paths_.isFile(place)) return place;
      continue;
    }
    for (const char* e : {".COM", ".EXE", ".BAT"})
      if (paths_.isFile(place + e)) return place + e;
  }
  return std::nullopt;
}

void Interpreter::programDos(const std::string& token, std::string_view rest, Batch* batch) {
  auto found = findDos(token);
  if (!found) {
    badCommand();
    return;
  }
  std::string ext = extOf(*found);
  if (ext == ".BAT") {
    // Without CALL, DOS hands control to the other batch file for good.
    std::vector<std::string> params{token};
    for (auto& a : splitArgs(rest)) params.push_back(a);
    chainTo(*found, std::move(params), batch);
    return;
  }
  if (stemOf(*found) == "DOSRESET") {
    out_ << "DOSRESET.COM: the computer restarts.\n";
    stop_ = Stop::Restart;
    return;
  }
  out_ << "This program cannot be run in DOS mode.\n";
}

void Interpreter::programWindows(std::string_view line, Batch* batch) {
  platform::WindowTable windows;
  platform::Launcher launcher(m_, windows);
  platform::Launcher::Resolved r;
  try {
    r = launcher.resolve(line);
  } catch (const platform::Error&) {
    badCommand();
    return;
  }
  if (r.batch) {
    std::vector<std::string> params{r.baseName};
    for (auto& a : r.args) params.push_back(a);
    chainTo(r.winPath, std::move(params), batch);
    return;
  }
  if (stemOf(r.winPath) == "DOSRESET") {
    out_ << "DOSRESET.COM: the computer restarts.\n";
    stop_ = Stop::Restart;
    return;
  }
  if (::access(r.host.c_str(), X_OK) != 0) {
    out_ << "This program cannot be run on this machine - " << r.winPath << "\n";
    errorLevel_ = 1;
    return;
  }
  errorLevel_ = spawn(r.host.string(), r.args, r.argTail, r.winPath);
}

void Interpreter::setup(std::string_view program) {
  out_ << "Windows Setup starts now from " << upperAnsi(program)
       << " (this machine stops here).\n";
  stop_ = Stop::Setup;
}

int Interpreter::spawn(const std::string& host, const std::vector<std::string>& args,
                       const std::string& tail, const std::string& winPath) {
  out_.flush();
  // The host environment with the machine's variables on top, as the
  // launcher starts programs; what SET changed travels as BRAKVEL9X_ENV_*.
  std::vector<std::string> envStore;
  auto overridden = [&](std::string_view entry) {
    std::string_view key = entry.substr(0, entry.find('='));
    if (key == "BRAKVEL9X_MACHINE" || key == "BRAKVEL9X_CMDLINE" || key == "BRAKVEL9X_PROGRAM")
      return true;
    for (auto& v : changedVars_)
      if (key == "BRAKVEL9X_ENV_" + v) return true;
    return false;
  };
  for (char** e = environ; e && *e; ++e)
    if (!overridden(*e)) envStore.emplace_back(*e);
  envStore.push_back("BRAKVEL9X_MACHINE=" + std::filesystem::absolute(m_.root()).string());
  envStore.push_back("BRAKVEL9X_CMDLINE=" + platform::ansiToUtf8(tail));
  envStore.push_back("BRAKVEL9X_PROGRAM=" + platform::ansiToUtf8(winPath));
  for (auto& v : changedVars_)
    envStore.push_back("BRAKVEL9X_ENV_" + v + "=" + platform::ansiToUtf8(var(v).value_or("")));
  std::vector<char*> envp;
  for (auto& s : envStore) envp.push_back(s.data());
  envp.push_back(nullptr);

  std::vector<std::string> argStore{host};
  for (auto& a : args) argStore.push_back(platform::ansiToUtf8(a));
  std::vector<char*> argv;
  for (auto& s : argStore) argv.push_back(s.data());
  argv.push_back(nullptr);

  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) {
    out_ << "Cannot start " << host << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, host.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  ::close(pipefd[1]);
  if (rc != 0) {
    ::close(pipefd[0]);
    out_ << "Cannot start " << host << ": " << std::strerror(rc) << "\n";
    return 1;
  }
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(pipefd[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out_.write(buf, n);
    out_.flush();
  }
  ::close(pipefd[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

}  // namespace command
