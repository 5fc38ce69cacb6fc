#pragma once
// Helpers shared by the cabinet tests: fixtures, temporary folders, running
// the peer tools.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "cab/writer.h"

namespace cabtest {

namespace fs = std::filesystem;

// Text shaped like a registry file (REGEDIT4 keys and values), n bytes.
std::string registryText(size_t n, unsigned seed);
// Incompressible bytes.
std::string randomBytes(size_t n, unsigned seed);

std::string readHost(const fs::path& p);
void writeHost(const fs::path& p, const std::string& bytes);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

struct Ran {
  int status = -1;  // exit status, -1 when it did not exit normally
  std::string output;  // stdout and stderr together
};
// Runs a shell command line.
Ran run(const std::string& command);
std::string quote(const std::string& s);  // for the shell
bool haveProgram(const std::string& name);

// name -> bytes members packed into a cabinet in memory.
using Files = std::vector<std::pair<std::string, std::string>>;
std::string makeCabinet(const Files& files, const cab::WriteOptions& options = {});
// Every member of a cabinet held in memory, in cabinet order.
Files readCabinet(const std::string& bytes);

// Empty when equal, else where the two first differ: a failing EXPECT_EQ on
// megabytes of text would spend minutes and gigabytes on its line diff.
std::string difference(const std::string& got, const std::string& want);
std::string difference(const Files& got, const Files& want);

// Files of a folder (names relative to it, sorted), for "nothing left
// behind" checks.
std::vector<std::string> listFolder(const fs::path& dir);

// The corpus README's table: cabinet file name -> "ok" | "error" | "spanned".
std::vector<std::pair<std::string, std::string>> corpusTable(const fs::path& dir);

}  // namespace cabtest
