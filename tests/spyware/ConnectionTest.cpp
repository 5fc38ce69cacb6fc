#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/net/internet.h"
#include "spyware/I_INTConnection.h"

using spyware::ComponentError;
using spyware::ConnectedStateInfo;
using spyware::I_INTConnection;

namespace {

// A provider that answers as told and records what it was given.
struct ScriptedInternet : spyware::InternetProvider {
  bool connected = false;
  uint32_t flags = 0;
  std::string name;
  bool accept = true;
  bool failQuery = false;
  int queries = 0;
  std::vector<std::pair<uint32_t, ConnectedStateInfo>> options;

  bool getConnectedState(uint32_t* f, char* buffer, uint32_t size) override {
    ++queries;
    EXPECT_EQ(*f, 0u) << "the flag word starts at 0";
    EXPECT_EQ(size, 256u);
    if (failQuery) throw std::runtime_error("wininet is missing");
    *f = flags;
    std::strncpy(buffer, name.c_str(), size);
    return connected;
  }
  bool setOption(uint32_t option, const ConnectedStateInfo& info) override {
    options.emplace_back(option, info);
    return accept;
  }
};

}  // namespace

TEST(ConnectionTest, FlagsTable) {
  struct Row {
    uint32_t flags;
    int32_t type;
    bool ras;
    int32_t workMode;
  };
  for (const Row r : {Row{0x00, 4, false, 2}, Row{0x01, 1, false, 2}, Row{0x02, 2, false, 2},
                      Row{0x04, 3, false, 2}, Row{0x03, 1, false, 2}, Row{0x06, 2, false, 2},
                      Row{0x24, 3, false, 1}, Row{0x11, 1, true, 2}, Row{0x30, 4, true, 1},
                      Row{0x3F, 1, true, 1}}) {
    SCOPED_TRACE(r.flags);
    ScriptedInternet net;
    net.flags = r.flags;
    I_INTConnection c(net, "Brakvel 9x");
    EXPECT_EQ(c.ConnectionType(), r.type);
    EXPECT_EQ(c.RasInstalled(), r.ras);
    EXPECT_EQ(c.WorkMode(), r.workMode);
  }
}

// Every read asks the platform anew; Connected uses only the return value,
// the other properties only the flags and the name.
TEST(ConnectionTest, EveryReadQueriesAnew) {
  ScriptedInternet net;
  I_INTConnection c(net, "Brakvel 9x");
  EXPECT_FALSE(c.Connected());
  net.connected = true;
  net.name = "LAN Connection";
  EXPECT_TRUE(c.Connected());
  EXPECT_EQ(c.ConnectionName(), "LAN Connection");
  net.connected = false;
  net.flags = 0x02;
  EXPECT_EQ(c.ConnectionType(), 2) << "flags count whatever the query returned";
  EXPECT_EQ(c.ConnectionName(), "LAN Connection");
  net.name.clear();
  EXPECT_EQ(c.ConnectionName(), "");
  EXPECT_EQ(net.queries, 6);
}

TEST(ConnectionTest, WorkModeRecords) {
  ScriptedInternet net;
  I_INTConnection c(net, "Brakvel 9x");
  c.setWorkMode(1);
  c.setWorkMode(2);
  ASSERT_EQ(net.options.size(), 2u);
  EXPECT_EQ(net.options[0].first, 50u);
  EXPECT_EQ(net.options[0].second.state, 0x10u);
  EXPECT_EQ(net.options[0].second.flags, 0x01u);
  EXPECT_EQ(net.options[1].first, 50u);
  EXPECT_EQ(net.options[1].second.state, 0x01u);
  EXPECT_EQ(net.options[1].second.flags, 0x00u);
}

TEST(ConnectionTest, Errors) {
  auto expectError = [](const auto& action, uint32_t number, const char* description) {
    try {
      action();
      ADD_FAILURE() << "no error raised";
    } catch (const ComponentError& e) {
      EXPECT_EQ(static_cast<uint32_t>(e.number()), number);
      EXPECT_EQ(e.source(), "Brakvel 9x.I_INTConnection");
      EXPECT_EQ(e.description(), description);
    }
  };

  ScriptedInternet net;
  I_INTConnection c(net, "Brakvel 9x");
  for (int32_t bad : {0, 3, -1}) {
    expectError([&] { c.setWorkMode(bad); }, 0x80044525u, "Invalid work mode");
  }
  EXPECT_TRUE(net.options.empty()) << "an invalid mode never reaches the platform";

  net.accept = false;
  expectError([&] { c.setWorkMode(1); }, 0x80044526u, "Cannot set the Internet option");

  net.failQuery = true;
  expectError([&] { (void)c.Connected(); }, 0x80044527u, "I_INTConnection component failure");
  expectError([&] { (void)c.ConnectionName(); }, 0x80044527u, "I_INTConnection component failure");
  expectError([&] { (void)c.WorkMode(); }, 0x80044527u, "I_INTConnection component failure");
}

TEST(HostNetworkTest, ForcedAnswersAndWorkMode) {
  struct Row {
    const char* connection;
    bool offline;
    bool connected;
    uint32_t flags;
    const char* name;
  };
  const platform::net::HostNetwork nothing;
  for (const Row r : {Row{"lan", false, true, 0x02, "LAN Connection"},
                      Row{"LAN", false, true, 0x02, "LAN Connection"},
                      Row{"modem", false, true, 0x11, "Dial-Up Connection"},
                      Row{"proxy", false, true, 0x04, "Proxy Connection"},
                      Row{"offline", false, false, 0x20, ""},
                      Row{"none", false, false, 0x00, ""},
                      Row{"host", false, false, 0x00, ""},
                      Row{"", false, false, 0x00, ""},
                      Row{"lan", true, false, 0x22, "LAN Connection"},
                      Row{"modem", true, false, 0x31, "Dial-Up Connection"}}) {
    SCOPED_TRACE(std::string(r.connection) + (r.offline ? " offline" : ""));
    const auto a = platform::net::decideConnection(r.connection, r.offline, nothing);
    EXPECT_EQ(a.connected, r.connected);
    EXPECT_EQ(a.flags, r.flags);
    EXPECT_EQ(a.name, r.name);
  }
  EXPECT_THROW(platform::net::decideConnection("wifi", false, nothing), std::invalid_argument);
}

TEST(HostNetworkTest, HostMode) {
  struct Row {
    platform::net::HostNetwork host;
    bool connected;
    uint32_t flags;
  };
  for (const Row r : {Row{{true, false, false}, true, 0x02}, Row{{false, true, false}, true, 0x04},
                      Row{{false, true, true}, true, 0x04}, Row{{false, false, true}, true, 0x02},
                      Row{{false, false, false}, false, 0x00}}) {
    const auto a = platform::net::decideConnection("host", false, r.host);
    EXPECT_EQ(a.connected, r.connected);
    EXPECT_EQ(a.flags, r.flags);
  }
}

TEST(HostNetworkTest, RouteTables) {
  const std::string header =
      "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
  const std::string local = "eth0\t0011A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";
  const std::string deflt = "eth0\t00000000\t0111A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
  const std::string down = "eth0\t00000000\t0111A8C0\t0002\t0\t0\t100\t00000000\t0\t0\t0\n";
  EXPECT_TRUE(platform::net::hasDefaultRoute(header + local + deflt, ""));
  EXPECT_FALSE(platform::net::hasDefaultRoute(header + local, ""));
  EXPECT_FALSE(platform::net::hasDefaultRoute(header + down, ""));
  EXPECT_FALSE(platform::net::hasDefaultRoute("", ""));

  const std::string zeros(32, '0');
  const std::string v6default = zeros + " 00 " + zeros + " 00 fe800000000000000000000000000001 00000400 "
                                "00000001 00000000 00000003 eth0\n";
  const std::string v6unreachable = zeros + " 00 " + zeros + " 00 " + zeros +
                                    " ffffffff 00000001 00000000 00200200 lo\n";
  EXPECT_TRUE(platform::net::hasDefaultRoute(header, v6default));
  EXPECT_FALSE(platform::net::hasDefaultRoute(header, v6unreachable));
}

TEST(HostNetworkTest, UrlHosts) {
  EXPECT_EQ(platform::net::hostOfUrl("http://update.vantrel.example"), "update.vantrel.example");
  EXPECT_EQ(platform::net::hostOfUrl("http://127.0.0.1:8080/x"), "127.0.0.1");
  EXPECT_EQ(platform::net::hostOfUrl("http://user@[::1]:80/"), "::1");
  EXPECT_EQ(platform::net::hostOfUrl("localhost:99"), "localhost");
  EXPECT_TRUE(platform::net::isLoopbackHost("127.0.0.1"));
  EXPECT_TRUE(platform::net::isLoopbackHost("LocalHost"));
  EXPECT_TRUE(platform::net::isLoopbackHost("::1"));
  EXPECT_FALSE(platform::net::isLoopbackHost("update.vantrel.example"));
  EXPECT_FALSE(platform::net::isLoopbackHost("127example.com"));
}
