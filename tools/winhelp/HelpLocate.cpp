#include "HelpLocate.h"

#include <cctype>

#include "platform/machine.h"
#include "platform/text.h"

namespace winhelp {

std::string locateHelpFile(const std::string& argument, std::string* shownName) {
  *shownName = argument;
  const bool windowsPath = argument.size() >= 3 &&
                           std::isalpha(static_cast<unsigned char>(argument[0])) &&
                           argument[1] == ':' && (argument[2] == '\\' || argument[2] == '/');
  if (!windowsPath) return argument;
  const auto machine = platform::Machine::open(platform::Machine::defaultDir());
  return machine.toHost(argument).string();
}

std::string toUtf8(const std::string& ansi) { return platform::ansiToUtf8(ansi); }
std::string fromUtf8(const std::string& utf8) { return platform::utf8ToAnsi(utf8); }

}  // namespace winhelp
