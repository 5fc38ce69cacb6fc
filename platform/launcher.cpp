#include "platform/launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <thread>

#include "platform/error.h"
#include "platform/file_streams.h"
#include "platform/files.h"
#include "platform/stand_in.h"
#include "platform/text.h"

extern char** environ;

namespace platform {

const char* windowStyleName(WindowStyle s) {
  switch (s) {
    case WindowStyle::Hide: return "hidden";
    case WindowStyle::NormalFocus: return "normal-focus";
    case WindowStyle::MinimizedFocus: return "minimized-focus";
    case WindowStyle::MaximizedFocus: return "maximized-focus";
    case WindowStyle::NormalNoFocus: return "normal-no-focus";
    case WindowStyle::MinimizedNoFocus: return "minimized-no-focus";
  }
  return "normal-focus";
}

// --- WindowTable -------------------------------------------------------------------

HWND WindowTable::add(FinishedWindow w) {
  std::lock_guard<std::mutex> lock(mu_);
  w.handle = next_++;
  windows_.push_back(std::move(w));
  return windows_.back().handle;
}

HWND WindowTable::find(std::string_view title) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& w : windows_) {
    if (w.title == title) return w.handle;
  }
  return 0;
}

HWND WindowTable::find(std::string_view title, JobId job) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& w : windows_) {
    if (w.title == title && w.job == job) return w.handle;
  }
  return 0;
}

std::optional<FinishedWindow> WindowTable::get(HWND h) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (const auto& w : windows_) {
    if (w.handle == h) return w;
  }
  return std::nullopt;
}

bool WindowTable::postClose(HWND h) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = std::find_if(windows_.begin(), windows_.end(), [&](auto& w) { return w.handle == h; });
  if (it == windows_.end()) return false;
  windows_.erase(it);
  return true;
}

std::vector<FinishedWindow> WindowTable::all() const {
  std::lock_guard<std::mutex> lock(mu_);
  return windows_;
}

// --- command lines -----------------------------------------------------------------

std::vector<std::string> splitCommandLine(std::string_view tail) {
  std::vector<std::string> args;
  size_t i = 0;
  const size_t n = tail.size();
  for (;;) {
    while (i < n && (tail[i] == ' ' || tail[i] == '\t')) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || (tail[i] != ' ' && tail[i] != '\t'))) {
      if (tail[i] == '\\') {
        size_t slashes = 0;
        while (i < n && tail[i] == '\\') ++slashes, ++i;
        if (i < n && tail[i] == '"') {
          arg.append(slashes / 2, '\\');
          if (slashes % 2) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(slashes, '\\');
        }
      } else if (tail[i] == '"') {
        if (quoted && i + 1 < n && tail[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += tail[i++];
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

// --- Launcher ---------------------------------------------------------------------

namespace {

constexpr size_t kOutputKept = 16 * 1024;

struct Job {
  pid_t pid = 0;
  int out = -1;  // the unlinked file the child's stdout and stderr go to
  std::string title;
  bool hidden = true;
  bool ended = false;     // the process has ended and its window is recorded
  int status = 0;
};

bool hasExtension(std::string_view name) {
  std::string base = winBaseName(name);
  return base.find('.') != std::string::npos;
}

std::string stripExtension(const std::string& base) {
  size_t dot = base.rfind('.');
  return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}

std::string trimLeft(std::string_view s) {
  size_t i = s.find_first_not_of(" \t");
  return i == std::string_view::npos ? std::string() : std::string(s.substr(i));
}

bool isHostExecutable(const fs::path& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(p.c_str(), X_OK) == 0;
}

// The built programs lie together, so a stand-in's program is found beside
// the one running now.
fs::path builtProgram(const std::string& tool) {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path(tool) : self.parent_path() / tool;
}

// The tool a machine's file stands in for: a stand-in is a few bytes, so
// only its start is read.
std::optional<std::string> standInOf(const Machine& m, const std::string& winPath) {
  try {
    auto in = openFile(m, winPath);
    std::string head(static_cast<size_t>(std::min<uint64_t>(in->size(), 64)), '\0');
    if (in->size() > head.size()) return std::nullopt;
    head.resize(in->readAt(0, head.data(), head.size()));
    return standInTool(head);
  } catch (const Error&) {
    return std::nullopt;
  }
}

bool onImage(const Machine& m, const std::string& winPath) {
  return winPath.size() >= 2 && winPath[1] == ':' && m.driveImage(winPath[0]).has_value();
}

}  // namespace

struct Launcher::Impl {
  Machine machine;
  WindowTable& windows;
  mutable std::mutex mu;
  mutable std::condition_variable changed;  // a job ended
  std::condition_variable started;          // a job began, or the launcher goes
  std::map<uint64_t, Job> jobs;
  bool stopping = false;
  std::thread reaper;

  Impl(const Machine& m, WindowTable& w) : machine(m), windows(w) {
    reaper = std::thread([this] { reap(); });
  }

  ~Impl() {
    {
      std::lock_guard<std::mutex> lock(mu);
      stopping = true;
    }
    started.notify_all();
    reaper.join();
    for (auto& [id, job] : jobs) {
      if (job.out >= 0) ::close(job.out);
    }
  }

  // What the program wrote: a file rather than a pipe, so that a tool which
  // outlives the program never dies of a broken pipe.
  static int outputFile() {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = tmp && *tmp ? tmp : "/tmp";
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    std::string name = dir + "/brakvel-output-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
    return fd;
  }

  static std::string tail(int fd) {
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) return {};
    off_t from = st.st_size > static_cast<off_t>(kOutputKept) ? st.st_size - static_cast<off_t>(kOutputKept) : 0;
    std::string out(static_cast<size_t>(st.st_size - from), '\0');
    size_t done = 0;
    while (done < out.size()) {
      ssize_t n = ::pread(fd, out.data() + done, out.size() - done, from + static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    out.resize(done);
    return out;
  }

  void reap() {
    std::unique_lock<std::mutex> lock(mu);
    for (;;) {
      auto anyRunning = [&] {
        return std::any_of(jobs.begin(), jobs.end(), [](auto& j) { return !j.second.ended; });
      };
      if (!anyRunning()) started.wait(lock, [&] { return stopping || anyRunning(); });
      if (stopping) return;
      std::vector<FinishedWindow> finished;
      for (auto& [id, job] : jobs) {
        if (job.ended) continue;
        int status = 0;
        pid_t r = ::waitpid(job.pid, &status, WNOHANG);
        if (r == 0) continue;
        if (r == job.pid) {
          job.status = WIFEXITED(status) ? WEXITSTATUS(status)
                       : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                             : 0;
        } else {
          job.status = 255;  // reaped by someone else: ended, status unknown
        }
        FinishedWindow w;
        w.title = job.title;
        w.job = JobId{id};
        w.exitStatus = job.status;
        w.hidden = job.hidden;
        w.output = tail(job.out);
        if (job.out >= 0) ::close(job.out);
        job.out = -1;
        finished.push_back(std::move(w));
      }
      if (!finished.empty()) {
        lock.unlock();
        for (auto& w : finished) windows.add(std::move(w));
        lock.lock();
        for (auto& w : finished) jobs[w.job.value].ended = true;
        changed.notify_all();
      }
      started.wait_for(lock, std::chrono::milliseconds(5), [&] { return stopping; });
      if (stopping) return;
    }
  }

  // Windows path of an existing file named by program (as written), or "".
  std::string findFile(const std::string& program) const {
    auto existingFile = [&](const std::string& winPath) -> std::string {
      return fileExists(machine, winPath) ? machine.longPath(winPath) : std::string();
    };
    auto withExtensions = [&](const std::string& winPath) -> std::string {
      if (hasExtension(winPath)) return existingFile(winPath);
      for (const char* ext : {".exe", ".com", ".bat"}) {
        std::string hit = existingFile(winPath + ext);
        if (!hit.empty()) return hit;
      }
      return {};
    };
    std::string winDir = machine.env("WinDir").value_or("C:\\WINDOWS");
    bool hasPath = program.find_first_of("\\/:") != std::string::npos;
    if (hasPath) {
      if (program.size() >= 2 && program[1] == ':') return withExtensions(program);
      if (program[0] == '\\' || program[0] == '/') return withExtensions(winDir.substr(0, 2) + program);
      return withExtensions(winJoin(winDir, program));
    }
    std::vector<std::string> places{winDir, winJoin(winDir, "SYSTEM")};
    std::string path = machine.env("PATH").value_or("");
    size_t i = 0;
    while (i <= path.size()) {
      size_t j = path.find(';', i);
      if (j == std::string::npos) j = path.size();
      std::string dir = path.substr(i, j - i);
      if (!dir.empty() && dir.size() >= 2 && dir[1] == ':') places.push_back(dir);
      i = j + 1;
    }
    for (const auto& dir : places) {
      std::string hit = withExtensions(winJoin(dir, program));
      if (!hit.empty()) return hit;
    }
    return {};
  }

  // The host program that runs a file of the machine: a stand-in's built
  // program, or on a folder drive the file itself (a link to a built program
  // or any host executable); empty when there is none (an image's file that
  // stands in for nothing).
  fs::path programFile(const std::string& winPath) const {
    if (onImage(machine, winPath)) {
      auto tool = standInOf(machine, winPath);
      return tool ? builtProgram(*tool) : fs::path();
    }
    fs::path host = machine.toHost(winPath);
    if (!isHostExecutable(host)) {
      if (auto tool = standInOf(machine, winPath)) return builtProgram(*tool);
    }
    return host;
  }

  // The program as a person reads it in the command line, for messages.
  static std::string writtenProgram(const std::vector<std::string>& words) {
    std::string acc;
    for (const auto& w : words) {
      acc += (acc.empty() ? "" : " ") + w;
      std::string lower = lowerAnsi(w);
      for (const char* ext : {".exe", ".com", ".bat"}) {
        if (lower.ends_with(ext)) return acc;
      }
    }
    return words.empty() ? std::string() : words[0];
  }
};

Launcher::Launcher(const Machine& m, WindowTable& windows) : impl_(std::make_unique<Impl>(m, windows)) {}

Launcher::~Launcher() = default;

Launcher::Resolved Launcher::resolve(std::string_view commandLine) const {
  std::string line = trimLeft(commandLine);
  Resolved r;
  std::string program;
  std::string found;
  if (!line.empty() && line[0] == '"') {
    size_t close = line.find('"', 1);
    program = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    r.argTail = close == std::string::npos ? std::string() : trimLeft(std::string_view(line).substr(close + 1));
    if (!program.empty()) found = impl_->findFile(program);
    if (found.empty()) throw Error(kFileNotFound, program.empty() ? line : program);
  } else {
    // Split at blanks, keeping where each word ends, and try ever longer prefixes.
    std::vector<std::string> words;
    std::vector<size_t> ends;
    size_t i = 0;
    while (i < line.size()) {
      size_t j = line.find_first_of(" \t", i);
      if (j == std::string::npos) j = line.size();
      words.push_back(line.substr(i, j - i));
      ends.push_back(j);
      i = line.find_first_not_of(" \t", j);
      if (i == std::string::npos) break;
    }
    for (size_t k = 0; k < words.size() && found.empty(); ++k) {
      std::string candidate = line.substr(0, ends[k]);
      found = impl_->findFile(candidate);
      if (!found.empty()) {
        program = candidate;
        r.argTail = trimLeft(std::string_view(line).substr(ends[k]));
      }
    }
    if (found.empty()) throw Error(kFileNotFound, Impl::writtenProgram(words));
  }
  r.winPath = found;
  r.host = impl_->programFile(found);
  r.baseName = stripExtension(winBaseName(program));
  r.args = splitCommandLine(r.argTail);
  r.batch = equalsNoCase(stripExtension(winBaseName(found)) + ".bat", winBaseName(found));
  return r;
}

JobId Launcher::start(std::string_view commandLine, WindowStyle style) {
  Resolved r = resolve(commandLine);
  const Machine& m = impl_->machine;

  fs::path exe = r.host;
  std::vector<std::string> args = r.args;
  std::string cmdline = r.argTail;
  std::string programWin = r.winPath;
  if (r.batch) {
    std::string comspec = m.env("COMSPEC").value_or(winJoin(m.env("WinDir").value_or("C:\\WINDOWS"), "COMMAND.COM"));
    if (!fileExists(m, comspec)) throw Error(kFileNotFound, comspec);
    programWin = m.longPath(comspec);
    exe = impl_->programFile(programWin);
    args = {"/C", r.winPath};
    // Quoted when it holds a blank: unquoted, a C:\Program.exe would run.
    cmdline = "/C " + (r.winPath.find(' ') == std::string::npos ? r.winPath : "\"" + r.winPath + "\"");
    if (!r.argTail.empty()) {
      for (auto& a : r.args) args.push_back(a);
      cmdline += " " + r.argTail;
    }
  }
  if (exe.empty() || !isHostExecutable(exe)) throw Error(kPathFileAccess, programWin);

  std::vector<std::string> argvStore{exe.string()};
  for (auto& a : args) argvStore.push_back(ansiToUtf8(a));
  std::vector<char*> argv;
  for (auto& a : argvStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  // The host environment, with the machine's own variables on top.
  const std::string overrides[] = {"BRAKVEL9X_MACHINE=", "BRAKVEL9X_CMDLINE=", "BRAKVEL9X_WINDOW=",
                                   "BRAKVEL9X_PROGRAM=", "BRAKVEL9X_CURRENT_FOLDER="};
  std::vector<std::string> envStore;
  for (char** e = environ; e && *e; ++e) {
    std::string_view kv(*e);
    bool replaced = std::any_of(std::begin(overrides), std::end(overrides),
                                [&](const std::string& o) { return kv.starts_with(o); });
    if (!replaced) envStore.emplace_back(kv);
  }
  envStore.push_back("BRAKVEL9X_MACHINE=" + m.root().string());
  envStore.push_back("BRAKVEL9X_CMDLINE=" + ansiToUtf8(cmdline));
  envStore.push_back(std::string("BRAKVEL9X_WINDOW=") + windowStyleName(style));
  envStore.push_back("BRAKVEL9X_PROGRAM=" + ansiToUtf8(programWin));
  // Programs start in the Windows folder, as the classic Shell leaves them:
  // the host folder is that folder where it has one (a folder drive), and
  // the Windows path goes along for the drives that have none (images).
  std::string cwd = m.root().string();
  if (auto winDir = m.env("WinDir"); winDir && folderExists(m, *winDir)) {
    std::string here = m.longPath(*winDir);
    envStore.push_back("BRAKVEL9X_CURRENT_FOLDER=" + ansiToUtf8(here));
    if (!onImage(m, here)) cwd = m.toHost(here).string();
  }
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  int out = Impl::outputFile();
  if (out < 0) throw Error(kPathFileAccess, programWin);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, out, 2);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = 0;
  int rc;
  {
    // Hold the lock so the reaper cannot see the pid before it is recorded.
    std::lock_guard<std::mutex> lock(impl_->mu);
    rc = posix_spawn(&pid, exe.c_str(), &actions, &attr, argv.data(), envp.data());
    if (rc == 0) {
      Job job;
      job.pid = pid;
      job.out = out;
      job.title = "Finished - " + r.baseName;
      job.hidden = style == WindowStyle::Hide;
      // Unique in the process, so launchers sharing a window table never mix jobs.
      static std::atomic<uint64_t> nextJob{1};
      JobId id{nextJob++};
      impl_->jobs.emplace(id.value, std::move(job));
      posix_spawn_file_actions_destroy(&actions);
      posix_spawnattr_destroy(&attr);
      impl_->started.notify_all();
      return id;
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(out);
  if (rc == ENOENT) throw Error(kFileNotFound, programWin);
  throw Error(kPathFileAccess, programWin);
}

bool Launcher::running(JobId job) const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  auto it = impl_->jobs.find(job.value);
  return it != impl_->jobs.end() && !it->second.ended;
}

std::optional<int> Launcher::exitStatus(JobId job) const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  auto it = impl_->jobs.find(job.value);
  if (it == impl_->jobs.end() || !it->second.ended) return std::nullopt;
  return it->second.status;
}

bool Launcher::wait(JobId job, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(impl_->mu);
  auto done = [&] {
    auto it = impl_->jobs.find(job.value);
    return it == impl_->jobs.end() || it->second.ended;
  };
  if (timeoutMs < 0) {
    impl_->changed.wait(lock, done);
    return impl_->jobs.count(job.value) > 0;
  }
  bool ok = impl_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
  return ok && impl_->jobs.count(job.value) > 0;
}

}  // namespace platform
