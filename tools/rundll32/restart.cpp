#include "tools/rundll32/restart.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/tasks.h"
#include "platform/lines.h"
#include "platform/text.h"
#include "tools/command/dos_paths.h"

namespace restart {

namespace {

std::string trim(std::string_view s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(" \t");
  return std::string(s.substr(b, e - b + 1));
}

void clearAttributes(const platform::Machine& m, const std::string& path) {
  if (platform::getAttributes(m, path) & (platform::kReadOnly | platform::kHidden | platform::kSystem))
    platform::setAttributes(m, path, platform::kNormal);
}

}  // namespace

namespace {

// What a restart has done of one WinInit.ini, written before and after each
// step that cannot be told from the files alone, so that the next restart
// after a kill carries out only what is left. Kept beside WinInit.ini as
// WinInit.run; its first line names the WinInit.ini text it belongs to.
class Progress {
 public:
  enum class Step { None, Copied, Deleting, Done };

  Progress(const platform::Machine& m, std::string path, const std::string& iniText)
      : m_(m), path_(std::move(path)), key_("WinInit.ini " + std::to_string(iniText.size()) + " " + hash(iniText)) {
    if (!platform::fileExists(m_, path_)) return;
    found_ = true;
    std::vector<std::string> lines = platform::readLines(m_, path_);
    if (lines.empty() || lines[0] != key_) return;  // another WinInit.ini's: start afresh
    for (size_t i = 1; i < lines.size(); ++i) {
      size_t blank = lines[i].find(' ');
      if (blank == std::string::npos) continue;
      std::string what = lines[i].substr(blank + 1);
      Step step = what == "done" ? Step::Done : what == "copied" ? Step::Copied : what == "deleting" ? Step::Deleting
                                                                                                      : Step::None;
      steps_[std::atoi(lines[i].c_str())] = step;
    }
  }
  bool resumed() const { return !steps_.empty(); }
  bool found() const { return found_; }
  Step of(int line) const {
    auto it = steps_.find(line);
    return it == steps_.end() ? Step::None : it->second;
  }
  void set(int line, Step step) {
    steps_[line] = step;
    std::string text = key_ + "\r\n";
    for (auto& [n, st] : steps_)
      if (st != Step::None)
        text += std::to_string(n) + " " +
                (st == Step::Done ? "done" : st == Step::Copied ? "copied" : "deleting") + "\r\n";
    platform::writeFileAtomic(m_, path_, text, platform::kNormal);
  }
  void remove() {
    if (platform::fileExists(m_, path_)) platform::deleteFile(m_, path_);
  }

 private:
  static std::string hash(const std::string& text) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
  }

  const platform::Machine& m_;
  std::string path_;
  std::string key_;
  bool found_ = false;
  std::map<int, Step> steps_;
};

}  // namespace

WinInitResult runWinInit(const platform::Machine& m, std::ostream& out) {
  WinInitResult result;
  auto winDir = m.env("WinDir");
  if (!winDir || winDir->empty()) {
    result.problems.push_back("WinDir is not set: no Windows folder to start");
    out << "WININIT: " << result.problems.back() << "\n";
    return result;
  }
  const std::string ini = platform::winJoin(*winDir, "WinInit.ini");
  const std::string run = platform::winJoin(*winDir, "WinInit.run");
  if (!platform::fileExists(m, ini)) {
    // A restart killed after its last step leaves only its record behind.
    try {
      if (platform::fileExists(m, run)) platform::deleteFile(m, run);
    } catch (const platform::Error&) {
    }
    out << "WININIT: no WinInit.ini in " << *winDir << ", nothing to do\n";
    return result;
  }
  result.present = true;
  const std::string text = platform::readFile(m, ini);
  Progress progress(m, run, text);
  if (progress.found()) {
    // What a killed restart was writing in the Windows folder goes first.
    platform::removeStaleTemporaries(m, *winDir);
    if (progress.resumed()) out << "WININIT: going on where the last start stopped\n";
  }
  command::DosPaths dos(m, command::Mode::Dos);
  auto problem = [&](std::string text) {
    out << "WININIT: " << text << "\n";
    result.problems.push_back(std::move(text));
  };

  bool inRename = false;
  int number = 0;  // of the line in the file
  for (const std::string& raw : platform::splitLines(text)) {
    ++number;
    std::string line = trim(raw);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      auto close = line.find(']');
      inRename = platform::equalsNoCase(trim(line.substr(1, close == std::string::npos
                                                               ? std::string::npos
                                                               : close - 1)),
                                        "Rename");
      continue;
    }
    if (!inRename) continue;
    auto eq = line.find('=');
    if (eq == std::string::npos) {
      problem("not a rename line, passed over: " + line);
      continue;
    }
    std::string target = platform::upperAnsi(trim(line.substr(0, eq)));
    std::string source = platform::upperAnsi(trim(line.substr(eq + 1)));
    const Progress::Step before = progress.of(number);
    try {
      if (target == "NUL") {
        std::string file = command::DosPaths::absolute(source, *winDir);
        if (before == Progress::Step::Done || (before == Progress::Step::Deleting && !dos.isFile(file))) {
          if (before != Progress::Step::Done) progress.set(number, Progress::Step::Done);
          out << "WININIT: " << source << " deleted\n";
          ++result.carriedOut;
          continue;
        }
        if (!dos.isFile(file)) {
          problem(source + " not found, nothing deleted");
          continue;
        }
        progress.set(number, Progress::Step::Deleting);
        clearAttributes(m, file);
        platform::deleteFile(m, file);
        progress.set(number, Progress::Step::Done);
        out << "WININIT: " << source << " deleted\n";
        ++result.carriedOut;
        continue;
      }
      std::string from = command::DosPaths::absolute(source, *winDir);
      std::string to = command::DosPaths::absolute(target, *winDir);
      if (before == Progress::Step::Done || before == Progress::Step::Copied) {
        // The copy is in place; only the source may be left to remove.
        if (before == Progress::Step::Copied) {
          if (dos.isFile(from)) {
            clearAttributes(m, from);
            platform::deleteFile(m, from);
          }
          progress.set(number, Progress::Step::Done);
        }
        out << "WININIT: " << target << " replaced by " << source << "\n";
        ++result.carriedOut;
        continue;
      }
      if (source.empty() || !dos.isFile(from)) {
        problem(target + " not replaced: " + (source.empty() ? std::string("no source given")
                                                             : source + " not found"));
        continue;
      }
      if (dos.exists(to)) {
        if (dos.isFolder(to)) {
          problem(target + " not replaced: it is a folder");
          continue;
        }
        clearAttributes(m, to);
      } else if (!dos.creatable(to)) {
        problem(target + " not replaced: its folder does not exist");
        continue;
      }
      // The copy lands atomically on the target and keeps the source's
      // attributes, so this is the move WININIT makes; only then does the
      // source go.
      platform::copyFile(m, from, to);
      progress.set(number, Progress::Step::Copied);
      clearAttributes(m, from);
      platform::deleteFile(m, from);
      progress.set(number, Progress::Step::Done);
      out << "WININIT: " << target << " replaced by " << source << "\n";
      ++result.carriedOut;
    } catch (const platform::Error& e) {
      problem(target + "=" + source + " failed: " + e.what());
    }
  }

  const std::string bak = platform::winJoin(*winDir, "WinInit.bak");
  try {
    if (platform::fileExists(m, bak)) {
      clearAttributes(m, bak);
      platform::deleteFile(m, bak);
    }
    platform::renameFile(m, ini, bak);
    out << "WININIT: WinInit.ini renamed to WinInit.bak\n";
    progress.remove();
  } catch (const platform::Error& e) {
    problem(std::string("WinInit.ini could not be renamed to WinInit.bak: ") + e.what());
  }
  return result;
}

int restartMachine(const platform::Machine& m, std::ostream& out, int closeTimeoutMs) {
  for (auto& t : platform::runningTasks(m)) out << "Closing " << t.title << "\n";
  auto left = platform::closeAllTasks(m, closeTimeoutMs);
  if (!left.empty()) {
    for (auto& t : left) out << t.title << " did not close: restart cancelled\n";
    return 2;
  }
  out << "Windows is restarting...\n";
  WinInitResult r = runWinInit(m, out);
  out << "Windows has started.\n";
  out.flush();
  return r.problems.empty() ? 0 : 1;
}

}  // namespace restart
