#include "ui/common/ProgramLocation.h"

#include <cstdlib>
#include <system_error>

#include "platform/text.h"

namespace frontend {

ProgramLocation programAt(const std::string& exeWinPath) {
  ProgramLocation loc;
  loc.exePath = exeWinPath;
  size_t slash = exeWinPath.find_last_of("\\/");
  loc.folder = slash == std::string::npos ? std::string() : exeWinPath.substr(0, slash);
  // At a drive root the folder keeps its backslash ("C:\"), as the
  // platform gives a program's folder.
  if (loc.folder.size() == 2 && loc.folder[1] == ':') loc.folder += '\\';
  std::string base = slash == std::string::npos ? exeWinPath : exeWinPath.substr(slash + 1);
  size_t dot = base.rfind('.');
  loc.exeName = dot == std::string::npos ? base : base.substr(0, dot);
  return loc;
}

ProgramLocation locateProgram(const platform::Machine& m, const char* argv0) {
  if (argv0 && *argv0) {
    std::error_code ec;
    platform::fs::path p = platform::fs::absolute(argv0, ec);
    if (!ec) {
      if (auto win = m.toWindows(p.lexically_normal())) return programAt(*win);
    }
  }
  if (const char* env = std::getenv("BRAKVEL9X_PROGRAM"); env && *env)
    return programAt(platform::utf8ToAnsi(env));
  return programAt(kDefaultProgramPath);
}

}  // namespace frontend
