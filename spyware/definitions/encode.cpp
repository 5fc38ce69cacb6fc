// Build tool: brakvel9x-spydef-encode PLAIN ENCODED
// Writes the encoded form of a definition file as the vendor ships it, after
// the check the program makes (by the name of ENCODED: spylist.enc,
// antispy.enc, undospy.enc), so that what ships is what the program takes.
// It runs on the build host, not in a machine, so it reads and writes host
// files itself.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "spyware/DefinitionCheck.h"
#include "spyware/FileConverter.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: brakvel9x-spydef-encode PLAIN ENCODED\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string plain{std::istreambuf_iterator<char>(in), {}};
  if (!in.good() && !in.eof()) {
    std::fprintf(stderr, "brakvel9x-spydef-encode: %s: cannot be read\n", argv[1]);
    return 1;
  }
  if (plain.empty()) {
    std::fprintf(stderr, "brakvel9x-spydef-encode: %s: missing or empty definition file\n", argv[1]);
    return 1;
  }
  std::string name = argv[2];
  name = name.substr(name.find_last_of('/') + 1);
  if (const auto kind = spyware::definitionKindOf(name)) {
    const auto checked = spyware::checkDefinition(*kind, plain);
    if (checked.fault) {
      std::fprintf(stderr, "brakvel9x-spydef-encode: %s: %s\n", argv[1], checked.fault->c_str());
      return 1;
    }
  }
  const std::string temp = std::string(argv[2]) + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << spyware::ConvertString(plain);
    out.flush();
    if (!out) {
      std::fprintf(stderr, "brakvel9x-spydef-encode: %s: cannot be written\n", temp.c_str());
      std::remove(temp.c_str());
      return 1;
    }
  }
  if (std::rename(temp.c_str(), argv[2]) != 0) {
    std::fprintf(stderr, "brakvel9x-spydef-encode: %s: cannot be replaced\n", argv[2]);
    std::remove(temp.c_str());
    return 1;
  }
  return 0;
}
