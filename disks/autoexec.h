#pragma once
// The A:\Autoexec.bat files of the two floppies, as text.
#include <string>

namespace app {

// The rescue disk: copies the files of the rescue folder P\RESCUE into the
// Windows directory W at boot (P, W: short paths).
std::string rescueAutoexec(const std::string& p, const std::string& w, bool hasClassesDat);
// The clean reinstall disk: deletes the Windows directory W and starts
// setup from the CD.
std::string reinstallAutoexec(const std::string& w, bool hasClassesDat);

}  // namespace app
