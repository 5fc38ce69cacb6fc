// Any bytes as a registry file: the reader must load them or refuse them
// naming an offset inside the file; never crash, hang or read out of
// bounds. What it loads must write out and read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/registry/creg_file.h"

namespace {

using platform::hive::Key;

bool sameTree(const Key& a, const Key& b) {
  std::vector<std::pair<const Key*, const Key*>> stack{{&a, &b}};
  while (!stack.empty()) {
    auto [x, y] = stack.back();
    stack.pop_back();
    if (x->childCount() != y->childCount() || x->valueCount() != y->valueCount()) return false;
    for (size_t i = 0; i < x->valueCount(); ++i) {
      const auto &v = x->value(i), &w = y->value(i);
      if (v.name != w.name || v.type != w.type || v.data != w.data) return false;
    }
    for (size_t i = 0; i < x->childCount(); ++i) {
      if (x->child(i).name() != y->child(i).name()) return false;
      stack.emplace_back(&x->child(i), &y->child(i));
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  platform::hive::CregLoad r = platform::hive::readCreg(bytes, "HKEY_LOCAL_MACHINE");
  if (r.error) {
    if (r.error->offset > size || r.error->what.empty()) std::abort();
    return 0;
  }
  platform::hive::CregLoad back = platform::hive::readCreg(platform::hive::cregBytes(r.hive->top()), "HKEY_LOCAL_MACHINE");
  if (back.error || !sameTree(r.hive->top(), back.hive->top())) std::abort();
  return 0;
}
