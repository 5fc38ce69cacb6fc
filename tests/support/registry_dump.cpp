#include "tests/support/registry_dump.h"

#include <utility>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/text.h"

namespace testsupport {

std::string dumpTree(const platform::hive::Key& top) {
  static const char* digits = "0123456789abcdef";
  auto hex = [](std::string& out, std::string_view s) {
    for (unsigned char c : s) {
      out += digits[c >> 4];
      out += digits[c & 15];
    }
  };
  std::string out;
  std::vector<std::pair<const platform::hive::Key*, size_t>> stack{{&top, 0}};
  while (!stack.empty()) {
    auto [k, depth] = stack.back();
    stack.pop_back();
    out += "K " + std::to_string(depth) + " ";
    if (depth) hex(out, k->name());
    out += '\n';
    for (size_t i = 0; i < k->valueCount(); ++i) {
      const auto& v = k->value(i);
      out += "V ";
      hex(out, v.name);
      out += " " + std::to_string(v.type) + " ";
      hex(out, v.data);
      out += '\n';
    }
    for (size_t i = k->childCount(); i-- > 0;) stack.emplace_back(&k->child(i), depth + 1);
  }
  return out;
}

namespace {

using namespace platform::reg;

void mapKey(Registry& r, HKEY root, const std::string& name, const std::string& path, RegistryMap* out) {
  HKEY h = 0;
  if (r.RegOpenKeyEx(root, path, 0x2003F, &h) != ERROR_SUCCESS) return;
  auto& values = (*out)[name + "\\" + platform::upperAnsi(path)];
  std::string sub, data;
  uint32_t type = 0;
  for (uint32_t i = 0; r.RegEnumValue(h, i, &sub, &type, &data) == ERROR_SUCCESS; ++i) values[sub] = {type, data};
  std::vector<std::string> subs;
  for (uint32_t i = 0; r.RegEnumKeyEx(h, i, &sub, 1024) == ERROR_SUCCESS; ++i) subs.push_back(sub);
  r.RegCloseKey(h);
  for (const auto& s : subs) mapKey(r, root, name, path.empty() ? s : path + "\\" + s, out);
}

}  // namespace

RegistryMap registryMap(const platform::Machine& m) {
  Registry r(m);
  RegistryMap d;
  mapKey(r, HKEY_LOCAL_MACHINE, "HKLM", "", &d);
  mapKey(r, HKEY_CURRENT_USER, "HKCU", "", &d);
  mapKey(r, HKEY_USERS, "HKU", "", &d);
  return d;
}

}  // namespace testsupport
