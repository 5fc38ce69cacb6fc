#include "spyware/UpdateServer.h"

#include "platform/machine.h"

namespace spyware {

std::string updateServer(const platform::Machine& m) {
  const auto current = platform::Machine::open(m.root());
  std::string url = current.ini("Internet", "UpdateServer").value_or("");
  while (!url.empty() && (url.back() == ' ' || url.back() == '/')) url.pop_back();
  while (!url.empty() && url.front() == ' ') url.erase(url.begin());
  return url.empty() ? kUpdateServer : url;
}

}  // namespace spyware
