#pragma once
// The machine's internet connection as the Windows internet functions
// report and switch it (InternetGetConnectedStateEx, InternetSetOption with
// the connected-state option), behind one small interface, and the answer
// an emulated machine gives.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace platform {
class Machine;
}

namespace platform::net {

// Flag bits of the connected-state query.
inline constexpr uint32_t INTERNET_CONNECTION_MODEM = 0x01;
inline constexpr uint32_t INTERNET_CONNECTION_LAN = 0x02;
inline constexpr uint32_t INTERNET_CONNECTION_PROXY = 0x04;
inline constexpr uint32_t INTERNET_RAS_INSTALLED = 0x10;
inline constexpr uint32_t INTERNET_CONNECTION_OFFLINE = 0x20;

// The connected-state record of the set-option call (option 50).
inline constexpr uint32_t INTERNET_OPTION_CONNECTED_STATE = 50;
inline constexpr uint32_t INTERNET_STATE_CONNECTED = 0x01;
inline constexpr uint32_t INTERNET_STATE_DISCONNECTED_BY_USER = 0x10;
inline constexpr uint32_t ISO_FORCE_DISCONNECTED = 0x01;
struct ConnectedStateInfo {
  uint32_t state = 0;
  uint32_t flags = 0;
};

class InternetProvider {
 public:
  virtual ~InternetProvider() = default;
  // InternetGetConnectedStateEx: fills *flags and the zero-terminated name
  // (at most nameSize bytes); true when the system has a connection.
  virtual bool getConnectedState(uint32_t* flags, char* name, uint32_t nameSize) = 0;
  // InternetSetOption(no handle, option, record): false when refused.
  virtual bool setOption(uint32_t option, const ConnectedStateInfo& info) = 0;
};

// A computer without any connection; the work mode cannot be switched.
class NoInternet : public InternetProvider {
 public:
  bool getConnectedState(uint32_t* flags, char* name, uint32_t nameSize) override {
    *flags = 0;
    if (nameSize > 0) name[0] = '\0';
    return false;
  }
  bool setOption(uint32_t, const ConnectedStateInfo&) override { return false; }
};

// The emulated machine's connection, from machine.ini [Internet]:
//   Connection=host (default) | lan | modem | proxy | offline | none
//   WorkMode=online (default) | offline   -- kept by the work-mode switch
//   UpdateServer=URL                      -- "host" counts a server on this
//                                            host as reachable
// "host" asks the host, without contacting anything: connected when the
// update server is on this host, when a proxy is configured (http_proxy),
// or when the host has a default route.
class HostInternet : public InternetProvider {
 public:
  // machine.ini is read anew on every query (another process may have
  // switched the work mode meanwhile).
  explicit HostInternet(const Machine& m);
  bool getConnectedState(uint32_t* flags, char* name, uint32_t nameSize) override;
  bool setOption(uint32_t option, const ConnectedStateInfo& info) override;

 private:
  std::filesystem::path root_;
};

// --- the pieces of the host's answer -------------------------------------------

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

// updateServerUrl may be empty (no server of this host).
HostNetwork probeHost(std::string_view updateServerUrl);

// "http://user@host:port/path" -> "host" ("[::1]" -> "::1"); empty when the
// address has no host.
std::string hostOfUrl(std::string_view url);

}  // namespace platform::net
