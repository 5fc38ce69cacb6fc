#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "platform/machine.h"
#include "platform/registry/key_tree.h"

namespace testsupport {

// A hive's keys and values, one line each, names and data in hex: the
// format of tests/registry/creg_dump.py, so that what we read and what
// libcreg reads of the same file compare as text.
std::string dumpTree(const platform::hive::Key& top);

// Every key of a machine's registry as the registry functions give it:
// "HKLM\PATH" (HKCU, HKU; the path upper case) -> value name -> (type,
// data). For "exactly what it held before" checks that name what differs.
using RegistryMap = std::map<std::string, std::map<std::string, std::pair<uint32_t, std::string>>>;
RegistryMap registryMap(const platform::Machine& m);

}  // namespace testsupport
