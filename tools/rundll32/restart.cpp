#include "tools/rundll32/restart.h"

#include "platform/error.h"
#include "platform/files.h"
#include "platform/tasks.h"
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

WinInitResult runWinInit(const platform::Machine& m, std::ostream& out) {
  WinInitResult result;
  auto winDir = m.env("WinDir");
  if (!winDir || winDir->empty()) {
    result.problems.push_back("WinDir is not set: no Windows folder to start");
    out << "WININIT: " << result.problems.back() << "\n";
    return result;
  }
  const std::string ini = platform::winJoin(*winDir, "WinInit.ini");
  if (!platform::fileExists(m, ini)) {
    out << "WININIT: no WinInit.ini in " << *winDir << ", nothing to do\n";
    return result;
  }
  result.present = true;
  command::DosPaths dos(m, command::Mode::Dos);
  auto problem = [&](std::string text) {
    out << "WININIT: " << text << "\n";
    result.problems.push_back(std::move(text));
  };

  bool inRename = false;
  for (const std::string& raw : platform::readLines(m, ini)) {
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
    try {
      if (target == "NUL") {
        std::string file = command::DosPaths::absolute(source, *winDir);
        if (!dos.isFile(file)) {
          problem(source + " not found, nothing deleted");
          continue;
        }
        clearAttributes(m, file);
        platform::deleteFile(m, file);
        out << "WININIT: " << source << " deleted\n";
        ++result.carriedOut;
        continue;
      }
      std::string from = command::DosPaths::absolute(source, *winDir);
      std::string to = command::DosPaths::absolute(target, *winDir);
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
      clearAttributes(m, from);
      platform::deleteFile(m, from);
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
