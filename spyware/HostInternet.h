#pragma once
// The connection state of an emulated machine. machine.ini [Internet]:
//   Connection=host (default) | lan | modem | proxy | offline | none
//   WorkMode=online (default) | offline   -- kept by the work-mode switch
// "host" asks the host (HostNetwork.h).
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "spyware/HostNetwork.h"
#include "spyware/I_INTConnection.h"

namespace platform {
class Machine;
}

namespace spyware {

class HostInternet : public InternetProvider {
 public:
  // machine.ini is read anew on every query (another process may have
  // switched the work mode meanwhile).
  explicit HostInternet(const platform::Machine& m);
  bool getConnectedState(uint32_t* flags, char* name, uint32_t nameSize) override;
  bool setOption(uint32_t option, const ConnectedStateInfo& info) override;

 private:
  std::filesystem::path root_;
};

}  // namespace spyware
