#pragma once
#include "platform/machine.h"

namespace machine_tool {

// Writes the registry hives of a new machine (System.dat, User.dat, and
// Classes.dat when me is true) into its Windows folder.
void writeDemoRegistry(const platform::Machine& m, bool me);

}  // namespace machine_tool
