// Any text as a directive: parsed, or refused with DirectiveError.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tools/makecab/directive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    makecab::Directive d = makecab::parseDirective(text, "fuzz");
    for (auto& f : d.files)
      if (f.member.empty() || f.source.empty()) __builtin_trap();
  } catch (const makecab::DirectiveError&) {
  }
  return 0;
}
