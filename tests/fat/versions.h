#pragma once
// Self-describing file contents for the kill tests: version k of a file is
// a header naming the file and k, then bytes that follow from both, so a
// file read back is either exactly some version or mixed.
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace testing_fat {

inline std::string versionBytes(const std::string& name, int k, size_t size) {
  std::string head = "version " + std::to_string(k) + " of " + name + "\n";
  std::string out = head;
  uint32_t x = static_cast<uint32_t>(k) * 2654435761u + static_cast<uint32_t>(name.size());
  while (out.size() < size) {
    x = x * 1103515245u + 12345u;
    out += static_cast<char>('a' + (x >> 16) % 26);
  }
  out.resize(std::max(size, head.size()));
  return out;
}

// The version the bytes are, or nullopt when they are no version whole.
inline std::optional<int> versionOf(const std::string& name, const std::string& bytes, size_t size) {
  if (!bytes.starts_with("version ")) return std::nullopt;
  int k = std::atoi(bytes.c_str() + 8);
  if (k <= 0 || bytes != versionBytes(name, k, size)) return std::nullopt;
  return k;
}

inline std::string readHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testing_fat
