#pragma once
// brakvel9x-machine run as a person runs it, on machine folders made in a
// temporary folder of each test.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace machine_tool_test {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string output;  // stdout and stderr
};

inline std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// The tool with args (shell words, quoted by the caller), env before it.
inline Result run(const std::string& args, const std::string& env = {},
                  const std::string& tool = BRAKVEL9X_MACHINE_TOOL) {
  std::string cmd = env + " " + quote(tool) + " " + args + " 2>&1";
  Result r;
  FILE* p = ::popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

class MachineTool : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "brakvel-tool-XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(tmpl.data()));
    base = tmpl;
    dir = base / "machine one";
  }
  void TearDown() override {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(base, ec); !ec && it != fs::end(it); it.increment(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add | fs::perm_options::nofollow, ec);
    }
    fs::remove_all(base, ec);
  }
  std::string env() const { return "BRAKVEL9X_MACHINE=" + quote(dir.string()); }
  fs::path base, dir;
};

}  // namespace machine_tool_test
