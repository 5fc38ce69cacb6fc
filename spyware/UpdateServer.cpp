#include "spyware/UpdateServer.h"

#include "platform/error.h"
#include "platform/machine.h"

namespace spyware {

std::string updateServer(const platform::Machine& m) {
  std::string url = m.ini("Internet", "UpdateServer").value_or("");
  while (!url.empty() && (url.back() == ' ' || url.back() == '/')) url.pop_back();
  while (!url.empty() && url.front() == ' ') url.erase(url.begin());
  return url.empty() ? kUpdateServer : url;
}

UpdateResult updateDefinitions(const platform::Machine& m, std::string_view programFolder,
                               const std::function<void(const DefinitionDownload&)>& progress) {
  const std::string util = platform::winJoin(programFolder, "util");
  // machine.ini as it is now, not as it was when the program started.
  const auto current = platform::Machine::open(m.root());
  return updateDefinitions(updateServer(current), m.toHost(util), progress);
}

}  // namespace spyware
