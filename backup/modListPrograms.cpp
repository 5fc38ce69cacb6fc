#include "backup/modListPrograms.h"

#include <cstring>
#include <vector>

#include "app/program.h"
#include "platform/error.h"
#include "platform/files.h"

namespace backup {

using namespace platform::reg;

namespace {

constexpr uint32_t KEY_READ = 0x20019;
constexpr uint32_t kNameCapacity = 255;
constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char* kCrLf = "\r\n";

std::string createdLine(const platform::Machine& m) {
  const platform::DateTime now = platform::DateTime::now();
  return "Backup created at : " + platform::formatShortDate(m, now) + "   " + platform::formatTime(m, now);
}

}  // namespace

std::string infoFilePath(std::string_view programFolder) {
  return std::string(programFolder) + "\\exchange\\info.txt";
}

std::string GetStringValue(Registry& reg, HKEY root, std::string_view subKey, std::string_view valueName,
                           std::string_view defaultText) {
  std::string result(defaultText);
  HKEY key = 0;
  reg.RegOpenKeyEx(root, subKey, KEY_READ, &key);
  uint32_t type = 0;
  uint32_t size = 0;
  if (reg.RegQueryValueEx(key, valueName, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
    std::vector<char> buffer(size, ' ');
    if (reg.RegQueryValueEx(key, valueName, &type, buffer.data(), &size) == ERROR_SUCCESS) {
      const size_t n = ::strnlen(buffer.data(), buffer.size());
      result.assign(buffer.data(), n);
    }
  }
  if (key) reg.RegCloseKey(key);
  return result;
}

bool MakeSystemInfo(app::Program& program, std::string& text) {
  app::Context& ctx = program.context();
  const std::string path = infoFilePath(ctx.programFolder);
  text = createdLine(ctx.machine) + kCrLf + kCrLf;
  // The file carries the time read again, as the text and the file are
  // two separate writes.
  std::string file = createdLine(ctx.machine) + kCrLf + kCrLf;
  const std::string heading = "Programs ,that were installed on your computer at backup time :";
  text += heading + kCrLf + kCrLf;
  file += heading + kCrLf + kCrLf;

  HKEY key = 0;
  if (ctx.registry.RegOpenKeyEx(HKEY_LOCAL_MACHINE, kUninstallKey, KEY_READ, &key) != ERROR_SUCCESS) {
    const std::string message = "Registry key could Not be opened -- aborting.";
    program.msgBox(message);
    file += "\"" + message + "\"" + kCrLf;
    try {
      platform::writeFileAtomic(ctx.machine, path, file);
    } catch (const platform::Error&) {
      // The program ends either way.
    }
    program.closeAll();
    return false;
  }
  for (uint32_t i = 0;; ++i) {
    std::string name;
    if (ctx.registry.RegEnumKeyEx(key, i, &name, kNameCapacity) != ERROR_SUCCESS) break;
    const std::string display =
        GetStringValue(ctx.registry, HKEY_LOCAL_MACHINE, std::string(kUninstallKey) + "\\" + name, "DisplayName");
    if (display.empty()) continue;
    text += display + kCrLf;
    file += display + kCrLf;
  }
  ctx.registry.RegCloseKey(key);
  file += std::string(kCrLf) + "Additional comments :" + kCrLf + kCrLf;
  platform::writeFileAtomic(ctx.machine, path, file);
  return true;
}

std::string finalInfoText(std::string_view info, std::string_view comments) {
  return std::string(info) + kCrLf + kCrLf + "Additional comments :" + kCrLf + kCrLf + std::string(comments) +
         kCrLf;
}

}  // namespace backup
