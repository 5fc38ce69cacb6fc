#pragma once
// The registry of the machine, kept where Windows 9x keeps it:
// HKEY_LOCAL_MACHINE in WINDOWS\System.dat, HKEY_CURRENT_USER and
// HKEY_USERS\.Default in WINDOWS\User.dat, HKEY_CLASSES_ROOT in
// WINDOWS\Classes.dat when the machine has that file, otherwise it is
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes. A hive file is a Windows 9x registry
// file (CREG), and Windows 9x's limits hold: key names of at most 255
// characters, at most 16,300 bytes of data in a value, a key's name and
// values within one data block. The functions keep the shape and the result
// codes of the Win32 calls the program makes, so the program's steps read as
// they are meant.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine.h"

namespace platform::reg {

using HKEY = uintptr_t;
inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
inline constexpr HKEY HKEY_USERS = 0x80000003;

// Result codes.
inline constexpr long ERROR_SUCCESS = 0;
inline constexpr long ERROR_FILE_NOT_FOUND = 2;
inline constexpr long ERROR_ACCESS_DENIED = 5;
inline constexpr long ERROR_INVALID_HANDLE = 6;
inline constexpr long ERROR_INVALID_PARAMETER = 87;
inline constexpr long ERROR_MORE_DATA = 234;
inline constexpr long ERROR_NO_MORE_ITEMS = 259;
inline constexpr long ERROR_BADDB = 1009;  // a damaged hive file

// Value types.
inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_MULTI_SZ = 7;

class Registry {
 public:
  explicit Registry(const Machine& m);
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // RegOpenKeyExA: a missing key fails with ERROR_FILE_NOT_FOUND.
  long RegOpenKeyEx(HKEY root, std::string_view subKey, uint32_t access, HKEY* result);
  // RegCreateKeyA: creates the path as needed.
  long RegCreateKey(HKEY root, std::string_view subKey, HKEY* result);
  long RegCloseKey(HKEY key);
  // RegEnumKeyExA: name of subkey index (creation order). Past the end:
  // ERROR_NO_MORE_ITEMS; a name longer than capacity-1 characters:
  // ERROR_MORE_DATA.
  long RegEnumKeyEx(HKEY key, uint32_t index, std::string* name, uint32_t capacity);
  // RegEnumValueA: name, type and data of value index.
  long RegEnumValue(HKEY key, uint32_t index, std::string* name, uint32_t* type,
                    std::string* data);
  // RegQueryValueExA. data == nullptr asks for type and size only. With a
  // buffer: *size is its capacity; too small gives ERROR_MORE_DATA and the
  // needed size. An empty name is the default value. Data are raw bytes (a
  // REG_SZ carries its terminating NUL, as Windows reports it).
  long RegQueryValueEx(HKEY key, std::string_view name, uint32_t* type, char* data,
                       uint32_t* size);
  // RegSetValueExA: raw bytes of any type.
  long RegSetValueEx(HKEY key, std::string_view name, uint32_t type, std::string_view data);
  // RegSetValueA: the default text value of subKey (created as needed).
  long RegSetValue(HKEY key, std::string_view subKey, std::string_view text);
  long RegDeleteValue(HKEY key, std::string_view name);
  // Deletes a key with all its subkeys.
  long RegDeleteKey(HKEY key, std::string_view subKey);

  // Message of the last failure: a damaged hive file ("C:\WINDOWS\System.dat:
  // offset 64 (0x40): ..."), a hive that could not be written, or a change
  // beyond Windows 9x's limits. Empty when nothing failed yet.
  std::string lastError() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// SHChangeNotify: recorded in the machine (a counter per event), so that a
// test can count the announcements.
void SHChangeNotify(const Machine& m, long eventId, unsigned flags);
long changeNotifyCount(const Machine& m, long eventId);
inline constexpr long SHCNE_ASSOCCHANGED = 0x08000000;

}  // namespace platform::reg

namespace platform {

// Preferences of a classic Windows program:
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<app>\<section>\<key>.
std::string GetSetting(const Machine& m, std::string_view app, std::string_view section,
                       std::string_view key, std::string_view defaultValue = {});
void SaveSetting(const Machine& m, std::string_view app, std::string_view section,
                 std::string_view key, std::string_view value);

// Date and time as text in the user's short formats (sShortDate,
// sTimeFormat under HKEY_CURRENT_USER\Control Panel\International), with
// M/d/yyyy and h:mm:ss tt when absent.
struct DateTime;
std::string formatShortDate(const Machine& m, const DateTime& t);
std::string formatTime(const Machine& m, const DateTime& t);
// The default date-and-time conversion: date, a blank, time (midnight shows
// the date alone, as the classic conversion does).
std::string formatDateTime(const Machine& m, const DateTime& t);

}  // namespace platform
