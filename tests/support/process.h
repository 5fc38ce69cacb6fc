#pragma once
// Running a program or a shell command from a test, always within a
// real-time budget: a child that outlives it is killed (with everything it
// started) and the test fails saying so, instead of hanging the suite.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/environment.h"

namespace testsupport {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Budget = std::chrono::milliseconds;

struct RunOptions {
  std::string input{};       // the child's standard input, then end of file
  fs::path machine{};        // BRAKVEL9X_MACHINE for the child, when given
  EnvChanges env{};          // more changes to the child's environment
  fs::path cwd{};            // the child's working folder, when given
  bool mergeOutput = false;  // standard error into out, in the order written
};

struct Ran {
  // The exit status; 128 + the signal that ended it; -1 when it could not
  // start or ran past its budget.
  int status = -1;
  std::string out, err;
  bool timedOut = false;
  // Both outputs, for messages.
  std::string output() const { return out + err; }
};

// Runs argv (argv[0] a path, or a name looked up on PATH) without a shell.
Ran run(const std::vector<std::string>& argv, Budget budget, const RunOptions& options = {});
// Runs a command line with /bin/sh -c.
Ran runShell(const std::string& command, Budget budget, const RunOptions& options = {});

// s as one word for the shell.
std::string quote(const std::string& s);
// name is a program on PATH.
bool haveProgram(const std::string& name);

// A program running beside the test: its standard output read line by
// line (or thrown away), killed or waited for. Killed when destroyed.
class Child {
 public:
  enum class Output { Lines, Discard };
  explicit Child(const std::vector<std::string>& argv, Output output = Output::Lines,
                 const RunOptions& options = {});
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  // The next line of output without its line end; empty at the end, or
  // when the budget passes (the test then fails).
  std::string readLine(Budget budget = 20s);
  // Kills it at once and reaps it: the status as wait gives it (128 + 9
  // when the kill ended it, its exit status when it had ended before).
  int kill();
  // Waits for it to end: the status as Ran::status gives it. Past the
  // budget it is killed, the test fails and the result is -1.
  int wait(Budget budget);

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string buf_;
  std::string name_;
};

}  // namespace testsupport
