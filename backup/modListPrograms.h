#pragma once
// The backup information file: the system-information text (date, time and
// the installed programs from the Uninstall key) and the provisional
// info.txt written beside it.
#include <string>
#include <string_view>

#include "platform/registry/registry.h"

namespace app {
class Program;
}

namespace backup {

// The named REG_SZ value of root\subKey, cut at its first NUL, or
// defaultText when it is missing or of another type.
std::string GetStringValue(platform::reg::Registry& reg, platform::reg::HKEY root,
                           std::string_view subKey, std::string_view valueName,
                           std::string_view defaultText = {});

// Replaces text with the system-information text and writes the
// provisional PROGRAM\exchange\info.txt. When the Uninstall key cannot be
// opened it says so, writes the quoted message into the file and ends the
// program; it then returns false.
bool MakeSystemInfo(app::Program& program, std::string& text);

// The final info.txt: the information text, an empty line, "Additional
// comments :", an empty line and the comments.
std::string finalInfoText(std::string_view info, std::string_view comments);

// PROGRAM\exchange\info.txt
std::string infoFilePath(std::string_view programFolder);

}  // namespace backup
