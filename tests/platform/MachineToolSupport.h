#pragma once
// brakvel9x-machine run as a person runs it, on machine folders made in a
// temporary folder of each test.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "tests/support/errors.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace machine_tool_test {

namespace fs = std::filesystem;
using testsupport::quote;

struct Result {
  int status = -1;
  std::string output;  // stdout and stderr
};

// The tool with args (shell words, quoted by the caller), env before it.
inline Result run(const std::string& args, const std::string& env = {},
                  const std::string& tool = BRAKVEL9X_MACHINE_TOOL) {
  using namespace std::chrono_literals;
  testsupport::Ran r = testsupport::runShell(env + " " + quote(tool) + " " + args, 120s, {.mergeOutput = true});
  return {r.status, r.out};
}

class MachineTool : public ::testing::Test {
 protected:
  void SetUp() override { dir = base / "machine one"; }
  std::string env() const { return "BRAKVEL9X_MACHINE=" + quote(dir.string()); }
  testsupport::TempDir tmp{"brakvel-tool"};
  const fs::path& base = tmp.path();
  fs::path dir;
};

}  // namespace machine_tool_test
