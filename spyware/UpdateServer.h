#pragma once
// Where the definition update comes from: the vendor's server, or the
// machine's [Internet] UpdateServer= (tests point it at 127.0.0.1).
#include <functional>
#include <string>
#include <string_view>

#include "spyware/DefinitionUpdate.h"

namespace platform {
class Machine;
}

namespace spyware {

inline constexpr const char* kUpdateServer = "http://update.vantrel.example";

std::string updateServer(const platform::Machine& m);

// Fetches the three definition files from the machine's update server into
// programFolder + "\util" (see updateDefinitions).
UpdateResult updateDefinitions(const platform::Machine& m, std::string_view programFolder,
                               const std::function<void(const DefinitionDownload&)>& progress = {});

}  // namespace spyware
