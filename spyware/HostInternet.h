#pragma once
// The connection state of an emulated machine. machine.ini [Internet]:
//   Connection=host (default) | lan | modem | proxy | offline | none
//   WorkMode=online (default) | offline   -- kept by the work-mode switch
// "host" asks the host (HostNetwork.h).
#include <cstdint>
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
  explicit HostInternet(platform::Machine& m) : machine_(m) {}
  bool getConnectedState(uint32_t* flags, char* name, uint32_t nameSize) override;
  bool setOption(uint32_t option, const ConnectedStateInfo& info) override;

 private:
  platform::Machine& machine_;
};

}  // namespace spyware
