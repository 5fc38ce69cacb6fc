#pragma once
#include <string>

namespace winhelp {

// The host file of the help file argument: a Windows path ("C:\...") is
// looked up on the machine (BRAKVEL9X_MACHINE), anything else is a host
// path. shownName gets the name to use in messages. Throws with a clear
// message when the machine cannot be opened.
std::string locateHelpFile(const std::string& argument, std::string* shownName);

std::string toUtf8(const std::string& ansi);
std::string fromUtf8(const std::string& utf8);

}  // namespace winhelp
