#pragma once
// Looking into a drive of the machine and copying files out of and into it
// by hand, without mounting anything: through the platform's file functions,
// so a folder drive and a disk image drive work alike.
#include <filesystem>
#include <ostream>
#include <string>

#include "platform/machine.h"

namespace machine_tool {

// One line per entry of a folder (or per match of a pattern such as
// C:\WINDOWS\*.DAT, or the one entry a file path names), in the order the
// classic Dir gives them, hidden and system entries included:
//   RHSA  SIZE  YYYY-MM-DD HH:MM:SS  SHORTNAME  LONG NAME
// RHSA: read-only, hidden, system, archive, '-' where not set; SIZE is
// right-aligned in 10 characters, or <DIR>; SHORTNAME is padded to 12
// characters; the long name ends the line. Throws platform::Error when the
// path does not exist.
void listFolder(const platform::Machine& m, const std::string& winPath, std::ostream& out);

// The file's bytes into a host file (into a host folder under its long
// name), put in place whole, with the file's modification time.
void copyOut(const platform::Machine& m, const std::string& winPath, const std::filesystem::path& host);

// A host file into the machine (into a machine folder under its own name),
// put in place whole; it gets the archive bit and the host file's
// modification time, and a file it replaces keeps its short name.
void copyIn(const platform::Machine& m, const std::filesystem::path& host, const std::string& winPath);

}  // namespace machine_tool
