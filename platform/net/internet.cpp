#include "platform/net/internet.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "platform/machine.h"
#include "platform/text.h"

namespace platform::net {

namespace {

std::string slurp(const char* path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string trimmedLower(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return lowerAnsi(s);
}

}  // namespace

ConnectionAnswer decideConnection(std::string_view connection, bool workOffline,
                                  const HostNetwork& host) {
  const std::string mode = connection.empty() ? "host" : trimmedLower(connection);
  ConnectionAnswer a;
  if (mode == "lan") {
    a = {true, INTERNET_CONNECTION_LAN, "LAN Connection"};
  } else if (mode == "modem") {
    a = {true, INTERNET_CONNECTION_MODEM | INTERNET_RAS_INSTALLED, "Dial-Up Connection"};
  } else if (mode == "proxy") {
    a = {true, INTERNET_CONNECTION_PROXY, "Proxy Connection"};
  } else if (mode == "offline") {
    a = {false, INTERNET_CONNECTION_OFFLINE, ""};
  } else if (mode == "none") {
    a = {false, 0, ""};
  } else if (mode == "host") {
    if (host.serverIsLocal) {
      a = {true, INTERNET_CONNECTION_LAN, "LAN Connection"};
    } else if (host.proxy) {
      a = {true, INTERNET_CONNECTION_PROXY, "Proxy Connection"};
    } else if (host.defaultRoute) {
      a = {true, INTERNET_CONNECTION_LAN, "LAN Connection"};
    }
  } else {
    throw std::invalid_argument("machine.ini [Internet] Connection=" + std::string(connection) +
                                " is not one of host, lan, modem, proxy, offline, none");
  }
  // The user's offline mode wins over any link, as in the browser.
  if (workOffline) {
    a.connected = false;
    a.flags |= INTERNET_CONNECTION_OFFLINE;
  }
  return a;
}

bool hasDefaultRoute(std::string_view ipv4RouteTable, std::string_view ipv6RouteTable) {
  constexpr unsigned kRouteUp = 0x1;
  std::istringstream v4{std::string(ipv4RouteTable)};
  std::string line;
  std::getline(v4, line);  // header
  while (std::getline(v4, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway, flags, refcnt, use, metric, mask;
    if (!(fields >> iface >> destination >> gateway >> flags >> refcnt >> use >> metric >> mask)) {
      continue;
    }
    const unsigned f = static_cast<unsigned>(std::strtoul(flags.c_str(), nullptr, 16));
    if (destination == "00000000" && mask == "00000000" && (f & kRouteUp) && iface != "lo") {
      return true;
    }
  }
  // destination, prefix length, source, source prefix, next hop, metric,
  // refcnt, use, flags, device
  std::istringstream v6{std::string(ipv6RouteTable)};
  while (std::getline(v6, line)) {
    std::istringstream fields(line);
    std::string destination, prefix, source, sourcePrefix, nextHop, metric, refcnt, use, flags, iface;
    if (!(fields >> destination >> prefix >> source >> sourcePrefix >> nextHop >> metric >> refcnt >>
          use >> flags >> iface)) {
      continue;
    }
    const unsigned f = static_cast<unsigned>(std::strtoul(flags.c_str(), nullptr, 16));
    if (destination == std::string(32, '0') && prefix == "00" && (f & kRouteUp) && iface != "lo" &&
        nextHop != std::string(32, '0')) {
      return true;
    }
  }
  return false;
}

bool isLoopbackHost(std::string_view host) {
  const std::string h = lowerAnsi(host);
  return h == "localhost" || h == "::1" || h.rfind("127.", 0) == 0 ||
         (h.size() > 10 && h.compare(h.size() - 10, 10, ".localhost") == 0);
}

HostNetwork probeHost(std::string_view updateServerUrl) {
  HostNetwork n;
  n.serverIsLocal = isLoopbackHost(hostOfUrl(updateServerUrl));
  for (const char* var : {"http_proxy", "HTTP_PROXY"}) {
    const char* v = std::getenv(var);
    if (v != nullptr && *v != '\0') n.proxy = true;
  }
  n.defaultRoute = hasDefaultRoute(slurp("/proc/net/route"), slurp("/proc/net/ipv6_route"));
  return n;
}

std::string hostOfUrl(std::string_view url) {
  auto scheme = url.find("://");
  if (scheme != std::string_view::npos) url.remove_prefix(scheme + 3);
  url = url.substr(0, url.find_first_of("/?#"));
  auto at = url.rfind('@');
  if (at != std::string_view::npos) url.remove_prefix(at + 1);
  if (!url.empty() && url.front() == '[') {
    auto close = url.find(']');
    return std::string(url.substr(1, close == std::string_view::npos ? url.npos : close - 1));
  }
  return std::string(url.substr(0, url.find(':')));
}

HostInternet::HostInternet(const Machine& m) : root_(m.root()) {}

bool HostInternet::getConnectedState(uint32_t* flags, char* name, uint32_t nameSize) {
  const auto machine = Machine::open(root_);
  const std::string connection = machine.ini("Internet", "Connection").value_or("host");
  const bool workOffline =
      equalsNoCase(machine.ini("Internet", "WorkMode").value_or("online"), "offline");
  const HostNetwork host = probeHost(machine.ini("Internet", "UpdateServer").value_or(""));
  const ConnectionAnswer a = decideConnection(connection, workOffline, host);
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
    auto machine = Machine::open(root_);
    machine.setIni("Internet", "WorkMode", mode);
  } catch (const std::exception&) {
    return false;  // machine.ini could not be written: the setting is refused
  }
  return true;
}

}  // namespace platform::net
