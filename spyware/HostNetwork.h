#pragma once
// How the host is connected, decided without contacting anything. The
// update server is reachable when it is on this host (loopback), through a
// configured proxy (http_proxy), or through a default route.
#include <cstdint>
#include <string>
#include <string_view>

namespace spyware {

struct ConnectionAnswer {
  bool connected = false;
  uint32_t flags = 0;
  std::string name;
};

// What the host offers, gathered once per query.
struct HostNetwork {
  bool serverIsLocal = false;  // the update server's host is a loopback name
  bool proxy = false;          // http_proxy / HTTP_PROXY set
  bool defaultRoute = false;
};

// Throws std::invalid_argument naming the value for an unknown Connection=.
ConnectionAnswer decideConnection(std::string_view connection, bool workOffline,
                                  const HostNetwork& host);

// True when a routing table in the form of /proc/net/route (or
// /proc/net/ipv6_route) has an up default route.
bool hasDefaultRoute(std::string_view ipv4RouteTable, std::string_view ipv6RouteTable);
bool isLoopbackHost(std::string_view host);

HostNetwork probeHost(std::string_view updateServerUrl);

// "http://user@host:port/path" -> "host" ("[::1]" -> "::1"); empty when the
// address has no host.
std::string hostOfUrl(std::string_view url);

}  // namespace spyware
