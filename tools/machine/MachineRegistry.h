#pragma once
// The machine's registry hives: made anew for a new machine, and brought
// from the text form of machines made before into CREG files.
#include <ostream>

#include "platform/machine.h"

namespace machine_tool {

// Writes the registry hives of a new machine (System.dat, User.dat, and
// Classes.dat when me is true) into its Windows folder.
void writeDemoRegistry(const platform::Machine& m, bool me);

// Rewrites every hive file still in REGEDIT4 text as a CREG file with the
// same keys and values and the same attributes; reports each to log.
// Throws platform::Error, or HiveError for a damaged hive.
void convertTextHives(const platform::Machine& m, std::ostream& log);

}  // namespace machine_tool
