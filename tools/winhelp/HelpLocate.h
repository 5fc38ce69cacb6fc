#pragma once
#include <optional>
#include <string>

namespace winhelp {

// The bytes of the help file argument: a Windows path ("C:\...") is read
// from the machine (BRAKVEL9X_MACHINE), whatever its drive is (a folder or
// a disk image); anything else is a host path. shownName gets the name to
// use in messages. nullopt when there is no such file; throws with a clear
// message when the machine cannot be opened or its drive cannot be read.
std::optional<std::string> readHelpFile(const std::string& argument, std::string* shownName);

std::string toUtf8(const std::string& ansi);
std::string fromUtf8(const std::string& utf8);

}  // namespace winhelp
