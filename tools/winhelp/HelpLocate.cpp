#include "HelpLocate.h"

#include <cctype>
#include <fstream>
#include <iterator>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/machine.h"
#include "platform/text.h"

namespace winhelp {

std::optional<std::string> readHelpFile(const std::string& argument, std::string* shownName) {
  *shownName = argument;
  const bool windowsPath = argument.size() >= 3 &&
                           std::isalpha(static_cast<unsigned char>(argument[0])) &&
                           argument[1] == ':' && (argument[2] == '\\' || argument[2] == '/');
  if (!windowsPath) {
    std::ifstream in(argument, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  const auto machine = platform::Machine::open(platform::Machine::defaultDir());
  try {
    return platform::readFile(machine, argument);
  } catch (const platform::Error& e) {
    if (e.number() == platform::kFileNotFound || e.number() == platform::kPathNotFound) return std::nullopt;
    throw;  // no disk, a damaged image: said as it is
  }
}

std::string toUtf8(const std::string& ansi) { return platform::ansiToUtf8(ansi); }
std::string fromUtf8(const std::string& utf8) { return platform::utf8ToAnsi(utf8); }

}  // namespace winhelp
