// COMMAND.COM of the machine: "command /C LINE" runs one command line (a
// batch file, a DOS command or a program) and exits with its ERRORLEVEL;
// without /C it reads command lines from its input until EXIT.
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/error.h"
#include "platform/machine.h"
#include "platform/text.h"
#include "tools/command/interpreter.h"

namespace {

std::string commandLine(int argc, char** argv) {
  // The launcher hands over the command line as written (in UTF-8).
  if (const char* tail = std::getenv("BRAKVEL9X_CMDLINE")) return platform::utf8ToAnsi(tail);
  std::string line;
  for (int i = 1; i < argc; ++i) {
    std::string a = platform::utf8ToAnsi(argv[i]);
    if (i > 1) line += ' ';
    if (a.find_first_of(" \t") != std::string::npos)
      line += '"' + a + '"';
    else
      line += a;
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  std::string line = commandLine(argc, argv);
  size_t pos = line.find_first_not_of(" \t");
  bool once = false;
  if (pos != std::string::npos && line.size() >= pos + 2 && line[pos] == '/' &&
      (line[pos + 1] == 'C' || line[pos + 1] == 'c')) {
    once = true;
    line = line.substr(pos + 2);
  }
  try {
    auto machine = platform::Machine::open(platform::Machine::defaultDir());
    command::Options options;
    options.terminal = ::isatty(0) && ::isatty(1);
    options.input = &std::cin;
    command::Interpreter interpreter(machine, std::cout, options);
    if (once) return interpreter.runLine(line).errorLevel;
    command::Outcome outcome;
    std::string input;
    for (;;) {
      if (options.terminal) std::cout << "\n" << interpreter.cwd() << ">" << std::flush;
      if (!std::getline(std::cin, input)) break;
      if (platform::equalsNoCase(input.substr(0, input.find_first_of(" \t")), "EXIT")) break;
      outcome = interpreter.runLine(platform::utf8ToAnsi(input));
      if (outcome.stop != command::Stop::Finished) break;
    }
    return outcome.errorLevel;
  } catch (const std::exception& e) {
    std::cerr << "command: " << e.what() << "\n";
    return 1;
  }
}
