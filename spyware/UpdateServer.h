#pragma once
// Where the definition update comes from: the vendor's server, or the
// machine's [Internet] UpdateServer= (tests point it at 127.0.0.1).
#include <string>

namespace platform {
class Machine;
}

namespace spyware {

inline constexpr const char* kUpdateServer = "http://update.vantrel.example";

// machine.ini as it is now, not as it was when the program started.
std::string updateServer(const platform::Machine& m);

}  // namespace spyware
