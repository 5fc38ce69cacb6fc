#pragma once
// Puts the built tools into a machine as links (on a disk image, which
// holds no links, as stand-in files naming them), and the program's data
// files as copies, so that a rebuild is picked up by "install" again;
// brings hives still in REGEDIT4 text into the registry file form.
#include <filesystem>
#include <ostream>

#include "platform/machine.h"

namespace machine_tool {

// bin: the build's bin folder (where brakvel9x-machine lives); the data come
// from bin/../share/brakvel9x/{program,windows}. Reports each step to log.
void installTools(const platform::Machine& m, const std::filesystem::path& bin, std::ostream& log);

}  // namespace machine_tool
