#include "platform/stand_in.h"

namespace platform {

namespace {
constexpr std::string_view kMagic = "BRAKVEL9X-STAND-IN ";
}

std::string standInBytes(std::string_view tool) {
  return std::string(kMagic) + std::string(tool) + "\r\n";
}

std::optional<std::string> standInTool(std::string_view bytes) {
  if (!bytes.starts_with(kMagic) || !bytes.ends_with("\r\n") || bytes.size() > 64) return std::nullopt;
  std::string tool(bytes.substr(kMagic.size(), bytes.size() - kMagic.size() - 2));
  if (tool.empty()) return std::nullopt;
  for (char c : tool)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-')) return std::nullopt;
  return tool;
}

}  // namespace platform
