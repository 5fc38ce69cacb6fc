#pragma once
#include <string>

namespace platform {
class Machine;
}

namespace msinfo {

// The system summary of the machine as ANSI text with LF line ends: Windows
// version, Windows folder, drives with free space, registry file sizes and
// the installed programs of the Uninstall key.
std::string systemReport(const platform::Machine& m);

}  // namespace msinfo
