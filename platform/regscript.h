#pragma once
// Registry scripts of the registry editor: import (checked whole, then
// applied in one write per hive) and export.
#include <optional>
#include <string>
#include <string_view>

#include "platform/machine.h"

namespace platform::hive {

struct ImportResult {
  bool ok = false;
  // "FILE:LINE: what is wrong" for a bad script, the hive's name and line
  // for a damaged hive, the file for a failed write.
  std::string error;
};

// fileLabel names the script in messages (the path as the user gave it).
ImportResult importScript(const Machine& m, std::string_view text, std::string_view fileLabel);

// REGEDIT4 text of the whole registry (HKEY_LOCAL_MACHINE and HKEY_USERS),
// or of one key ("HKEY_CLASSES_ROOT\.kvt") with its subkeys. nullopt when
// the key does not exist. Throws HiveError for a damaged hive and
// std::invalid_argument for a key that does not start with a root.
std::optional<std::string> exportText(const Machine& m, std::string_view key = {});

}  // namespace platform::hive
