// Build tool: brakvel9x-spydef-encode PLAIN ENCODED
// Writes the encoded form of a definition file as the vendor ships it.
#include <cstdio>
#include <filesystem>

#include "spyware/FileConverter.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: brakvel9x-spydef-encode PLAIN ENCODED\n");
    return 2;
  }
  const std::filesystem::path plain = argv[1];
  std::error_code ec;
  if (!std::filesystem::is_regular_file(plain, ec) || std::filesystem::file_size(plain, ec) == 0) {
    std::fprintf(stderr, "brakvel9x-spydef-encode: %s: missing or empty definition file\n", argv[1]);
    return 1;
  }
  try {
    spyware::convertHostFile(plain, argv[2]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "brakvel9x-spydef-encode: %s\n", e.what());
    return 1;
  }
  return 0;
}
