#pragma once
// Registry scripts of the registry editor against the machine's hives:
// import (checked whole, then applied in one write per hive) and export.
#include <functional>
#include <string>
#include <string_view>

#include "platform/machine.h"

namespace platform::hive {

struct ImportResult {
  bool ok = false;
  // "FILE:LINE: what is wrong" for a bad script or one beyond Windows 9x's
  // limits, the hive and the offset for a damaged hive, the file for a
  // failed write.
  std::string error;
};

// fileLabel names the script in messages (the path as the user gave it).
ImportResult importScript(const Machine& m, std::string_view text, std::string_view fileLabel);

// REGEDIT4 text of the whole registry (HKEY_LOCAL_MACHINE and HKEY_USERS),
// or of one key ("HKEY_CLASSES_ROOT\.kvt") with its subkeys, handed to put
// in pieces. False, with nothing handed over, when the key does not exist.
// Throws HiveError for a damaged hive and std::invalid_argument for a key
// that does not start with a root.
bool exportText(const Machine& m, std::string_view key, const std::function<void(std::string_view)>& put);

}  // namespace platform::hive
