#include <string>

#include "platform/error.h"
#include "platform/registry/registry.h"

namespace platform {

namespace {

std::string settingsPath(std::string_view app, std::string_view section) {
  std::string p = "Software\\VB and VBA Program Settings\\";
  p += app;
  p += '\\';
  p += section;
  return p;
}

}  // namespace

std::string GetSetting(const Machine& m, std::string_view app, std::string_view section,
                       std::string_view key, std::string_view defaultValue) {
  using namespace reg;
  Registry r(m);
  HKEY h = 0;
  if (r.RegOpenKeyEx(HKEY_CURRENT_USER, settingsPath(app, section), 0x20019, &h) != ERROR_SUCCESS)
    return std::string(defaultValue);
  std::string result(defaultValue);
  uint32_t type = 0, size = 0;
  if (r.RegQueryValueEx(h, key, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::string buf(size, '\0');
    if (r.RegQueryValueEx(h, key, &type, buf.data(), &size) == ERROR_SUCCESS) {
      buf.resize(size);
      result = buf.substr(0, buf.find('\0'));
    }
  }
  r.RegCloseKey(h);
  return result;
}

void SaveSetting(const Machine& m, std::string_view app, std::string_view section,
                 std::string_view key, std::string_view value) {
  using namespace reg;
  Registry r(m);
  HKEY h = 0;
  long rc = r.RegCreateKey(HKEY_CURRENT_USER, settingsPath(app, section), &h);
  if (rc == ERROR_SUCCESS) {
    std::string data(value);
    data += '\0';
    rc = r.RegSetValueEx(h, key, REG_SZ, data);
    r.RegCloseKey(h);
  }
  if (rc != ERROR_SUCCESS) {
    std::string why = r.lastError();
    throw Error(kPathFileAccess, why.empty() ? "HKEY_CURRENT_USER\\" + settingsPath(app, section) : why);
  }
}

}  // namespace platform
