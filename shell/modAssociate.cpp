#include "shell/modAssociate.h"

#include <array>
#include <cstring>

#include "platform/machine.h"

namespace shell {

using namespace platform::reg;

namespace {

constexpr uint32_t kAllAccess = 0x2003F;
constexpr uint32_t kBufferSize = 1024;

void setDefault(Registry& reg, std::string_view key, std::string_view subKey,
                std::string_view text) {
  HKEY h = 0;
  if (reg.RegCreateKey(HKEY_CLASSES_ROOT, key, &h) != ERROR_SUCCESS) return;
  reg.RegSetValue(h, subKey, text);
  reg.RegCloseKey(h);
}

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

std::string ReadKeyValue(Registry& reg, HKEY root, std::string_view keyPath,
                         std::string_view valueName) {
  HKEY h = 0;
  if (reg.RegOpenKeyEx(root, keyPath, kAllAccess, &h) != ERROR_SUCCESS) return {};
  std::array<char, kBufferSize> buffer{};
  uint32_t type = 0;
  uint32_t size = kBufferSize;
  if (reg.RegQueryValueEx(h, valueName, &type, buffer.data(), &size) != ERROR_SUCCESS) {
    reg.RegCloseKey(h);
    return {};
  }
  const std::string data(buffer.data(), ::strnlen(buffer.data(), buffer.size()));
  std::string result;
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    result = data;
  } else if (type == REG_DWORD) {
    uint32_t n = 0;
    std::memcpy(&n, buffer.data(), sizeof n);
    result = std::to_string(n);
  }
  reg.RegCloseKey(h);
  return result;
}

void CreateAssociation(const platform::Machine& m, Registry& reg, std::string_view programFolder,
                       std::string_view exeName, std::string_view className,
                       std::string_view extension, std::string_view description,
                       std::string_view iconPath, std::string_view extraArguments) {
  if (className.empty()) return;
  std::string folder(programFolder);
  if (folder.empty() || folder.back() != '\\') folder += '\\';

  setDefault(reg, className, "", description);
  setDefault(reg, extension, "", className);
  const std::string_view extra = trimBlanks(extraArguments);
  const std::string command = folder + std::string(exeName) + ".exe" +
                              (extra.empty() ? std::string(" %1") : " " + std::string(extra));
  setDefault(reg, className, "shell\\open\\command", command);
  if (!iconPath.empty()) setDefault(reg, className, "DefaultIcon", iconPath);
  SHChangeNotify(m, SHCNE_ASSOCCHANGED, 0);
}

void FileAssociate(const platform::Machine& m, Registry& reg, std::string_view programFolder,
                   std::string_view exeName) {
  if (!ReadKeyValue(reg, HKEY_CLASSES_ROOT, ".kvt", "").empty()) return;
  CreateAssociation(m, reg, programFolder, exeName, "Brakvel", ".kvt", "System backup file",
                    std::string(programFolder) + "\\sysarchive.ico", "");
}

std::string importCommandLine(std::string_view path) {
  return "regedit.exe /s " + std::string(path);
}

std::string importStartFailureText(int number, std::string_view description,
                                   std::string_view path) {
  return "Error # " + std::to_string(number) + " " + std::string(description) + "\r\nWith: " +
         std::string(path);
}

}  // namespace shell
