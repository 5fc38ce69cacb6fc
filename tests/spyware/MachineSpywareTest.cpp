// The connection state and the update server of a real temporary machine.
#include <gtest/gtest.h>

#include "platform/net/internet.h"
#include "spyware/I_INTConnection.h"
#include "spyware/UpdateServer.h"
#include "tests/support/environment.h"
#include "tests/support/host_files.h"
#include "tests/support/test_machine.h"

using testsupport::ScopedEnv;
using TempMachine = testsupport::TestMachine;

namespace {

// A machine whose machine.ini has these "Key=Value" lines in [Internet].
testsupport::MachineOptions iniWith(const std::string& internet) {
  testsupport::MachineOptions o;
  for (size_t at = 0; at < internet.size();) {
    size_t end = internet.find('\n', at);
    std::string line = internet.substr(at, end - at);
    at = end == std::string::npos ? internet.size() : end + 1;
    size_t eq = line.find('=');
    if (eq != std::string::npos) o.settings.push_back({"Internet", line.substr(0, eq), line.substr(eq + 1)});
  }
  return o;
}

}  // namespace

TEST(MachineConnectionTest, ForcedConnectionsFromMachineIni) {
  struct Row {
    const char* ini;
    bool connected;
    int32_t type;
    const char* name;
  };
  for (const Row r : {Row{"Connection=lan\n", true, 2, "LAN Connection"},
                      Row{"Connection=modem\n", true, 1, "Dial-Up Connection"},
                      Row{"Connection=proxy\n", true, 3, "Proxy Connection"},
                      Row{"Connection=none\n", false, 4, ""},
                      Row{"Connection=host\nUpdateServer=http://127.0.0.1:9/\n", true, 2,
                          "LAN Connection"}}) {
    SCOPED_TRACE(r.ini);
    TempMachine tm(iniWith(r.ini));
    auto m = tm.open();
    platform::net::HostInternet provider(m);
    spyware::I_INTConnection c(provider, "Brakvel 9x");
    EXPECT_EQ(c.Connected(), r.connected);
    EXPECT_EQ(c.ConnectionType(), r.type);
    EXPECT_EQ(c.ConnectionName(), r.name);
    EXPECT_EQ(c.WorkMode(), 2);
  }
}

TEST(MachineConnectionTest, UnknownConnectionIsAComponentFailureNamingTheSetting) {
  TempMachine tm(iniWith("Connection=wifi\n"));
  auto m = tm.open();
  platform::net::HostInternet provider(m);
  spyware::I_INTConnection c(provider, "Brakvel 9x");
  try {
    (void)c.Connected();
    ADD_FAILURE() << "no error";
  } catch (const spyware::ComponentError& e) {
    EXPECT_EQ(static_cast<uint32_t>(e.number()), 0x80044527u);
    EXPECT_NE(std::string(e.what()).find("Connection=wifi"), std::string::npos) << e.what();
  }
}

// The work mode is kept in the machine, so another process sees it too.
TEST(MachineConnectionTest, WorkModeIsKeptInMachineIni) {
  TempMachine tm(iniWith("Connection=lan\n"));
  auto m = tm.open();
  platform::net::HostInternet provider(m);
  spyware::I_INTConnection c(provider, "Brakvel 9x");
  c.setWorkMode(1);
  EXPECT_EQ(c.WorkMode(), 1);
  EXPECT_FALSE(c.Connected());
  EXPECT_EQ(c.ConnectionType(), 2);
  EXPECT_EQ(tm.open().ini("Internet", "WorkMode").value_or(""), "offline");

  auto again = tm.open();
  platform::net::HostInternet otherProvider(again);
  EXPECT_EQ(spyware::I_INTConnection(otherProvider, "x").WorkMode(), 1);

  c.setWorkMode(2);
  EXPECT_EQ(c.WorkMode(), 2);
  EXPECT_TRUE(c.Connected());
  EXPECT_EQ(tm.open().ini("Internet", "WorkMode").value_or(""), "online");
}

TEST(MachineConnectionTest, HostModeThroughAProxy) {
  TempMachine tm(iniWith("UpdateServer=http://update.example.invalid\n"));
  auto m = tm.open();
  ScopedEnv proxy("http_proxy", "http://127.0.0.1:3128");
  platform::net::HostInternet provider(m);
  spyware::I_INTConnection c(provider, "Brakvel 9x");
  EXPECT_TRUE(c.Connected());
  EXPECT_EQ(c.ConnectionType(), 3);
}

TEST(MachineUpdateTest, ServerFromMachineIniAsItIsNow) {
  TempMachine tm;
  const auto m = tm.open();
  tm.writeIni(testsupport::slurp(tm.dir() / "machine.ini") + "[Internet]\nUpdateServer= http://127.0.0.1:8080/ \n");
  EXPECT_EQ(spyware::updateServer(m), "http://127.0.0.1:8080");
}

TEST(MachineUpdateTest, DefaultServerIsTheVendors) {
  TempMachine tm;
  EXPECT_EQ(spyware::updateServer(tm.open()), spyware::kUpdateServer);
}
