#include "spyware/HostInternet.h"

#include <algorithm>
#include <cstring>

#include "platform/machine.h"
#include "platform/text.h"
#include "spyware/UpdateServer.h"

namespace spyware {

HostInternet::HostInternet(const platform::Machine& m) : root_(m.root()) {}

bool HostInternet::getConnectedState(uint32_t* flags, char* name, uint32_t nameSize) {
  const auto machine = platform::Machine::open(root_);
  const std::string connection = machine.ini("Internet", "Connection").value_or("host");
  const bool workOffline =
      platform::equalsNoCase(machine.ini("Internet", "WorkMode").value_or("online"), "offline");
  const ConnectionAnswer a = decideConnection(connection, workOffline, probeHost(updateServer(machine)));
  *flags = a.flags;
  if (nameSize > 0) {
    const size_t n = std::min<size_t>(a.name.size(), nameSize - 1);
    std::memcpy(name, a.name.data(), n);
    name[n] = '\0';
  }
  return a.connected;
}

bool HostInternet::setOption(uint32_t option, const ConnectedStateInfo& info) {
  if (option != INTERNET_OPTION_CONNECTED_STATE) return false;
  const char* mode = nullptr;
  if (info.state == INTERNET_STATE_DISCONNECTED_BY_USER && info.flags == ISO_FORCE_DISCONNECTED) {
    mode = "offline";
  } else if (info.state == INTERNET_STATE_CONNECTED && info.flags == 0) {
    mode = "online";
  } else {
    return false;
  }
  try {
    auto machine = platform::Machine::open(root_);
    machine.setIni("Internet", "WorkMode", mode);
  } catch (const std::exception&) {
    return false;  // machine.ini could not be written: the setting is refused
  }
  return true;
}

}  // namespace spyware
