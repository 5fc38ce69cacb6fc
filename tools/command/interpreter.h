#pragma once
// The machine's command interpreter (its COMMAND.COM): runs batch files and
// single command lines with the internal commands and the DOS tools that
// the program's batch files and floppies use. From Windows it sees long
// names and starts the machine's programs; booted from a floppy (DOS mode)
// it sees only 8.3 names and cannot start Windows programs.
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/machine.h"
#include "tools/command/dos_paths.h"

namespace command {

// How a run ended.
enum class Stop {
  Finished,  // the batch (or command) ran to its end, or to a fatal error
  Restart,   // DOSRESET.COM restarted the computer
  Setup,     // Windows setup was started from the CD-ROM drive
};

struct Outcome {
  Stop stop = Stop::Finished;
  int errorLevel = 0;  // the last program's exit status
};

struct Options {
  Mode mode = Mode::Windows;
  std::string cwd;            // current folder; empty: the Windows folder (Windows) or A:\ (DOS)
  bool terminal = false;      // output and input are a console (CLS clears, PAUSE waits)
  std::istream* input = nullptr;  // answers for PAUSE and DELTREE without /Y
};

class Interpreter {
 public:
  Interpreter(const platform::Machine& m, std::ostream& out, Options options = {});

  // Runs a batch file (its Windows path) with %1.. parameters.
  Outcome runBatch(std::string_view path, const std::vector<std::string>& params = {});
  // Runs one command line, as "COMMAND /C line" does.
  Outcome runLine(std::string_view line);

  // The interpreter's environment, names in capitals in DOS mode.
  std::optional<std::string> var(std::string_view name) const;
  const std::string& cwd() const { return cwd_; }
  // The drive letter MSCDEX gave the CD-ROM drive, 0 while not loaded.
  char cdDrive() const { return cdDrive_; }

 private:
  struct Batch {
    std::string path;
    std::vector<std::string> lines;
    std::vector<std::string> params;  // %0..%9
    size_t next = 0;
    bool done = false;
  };

  // --- a line to its command (interpreter.cpp)
  // Runs one (already expanded) line; may move the current batch.
  void execute(std::string_view line, Batch* batch);
  // The command of a line without @ and echo handling (IF, LH, CALL use it).
  void dispatch(std::string_view line, Batch* batch);
  void setVar(std::string_view name, std::string_view value);
  std::string abs(std::string_view given) const { return DosPaths::absolute(given, cwd_); }
  std::string prompt() const;
  void badCommand();

  // --- batch files and control flow (control_flow.cpp)
  Outcome runBatchFrom(Batch batch);
  // Goes on with the batch file at path: in place of the running one, which
  // DOS leaves for good, or on its own when none runs.
  void chainTo(const std::string& path, std::vector<std::string> params, Batch* batch);
  std::string expand(std::string_view line, const Batch* batch) const;
  void gotoLabel(std::string_view rest, Batch* batch);
  void ifCommand(std::string_view rest, Batch* batch);
  void call(std::string_view rest, Batch* batch);

  // --- internal commands (builtin_commands.cpp); false when the name is none
  bool builtin(const std::string& name, std::string_view rest, Batch* batch);
  void echo(std::string_view rest);
  void chdir(std::string_view rest);
  void copy(std::string_view rest);
  void pause();
  void path(std::string_view rest);
  void set(std::string_view rest);

  // --- the DOS programs the floppies call, emulated (dos_tools.cpp); false
  // when the name is none of them
  bool dosTool(const std::string& name, std::string_view args);
  void attrib(std::string_view rest);
  void deltree(std::string_view rest);
  void mscdex(std::string_view rest);

  // --- a program line: the file found on disk and started (program_lookup.cpp)
  void program(std::string_view line, const std::string& token, std::string_view rest,
               Batch* batch);
  void programDos(const std::string& token, std::string_view rest, Batch* batch);
  void programWindows(std::string_view line, Batch* batch);
  std::optional<std::string> findDos(const std::string& token) const;
  void setup(std::string_view program);
  int spawn(const std::string& host, const std::vector<std::string>& args,
            const std::string& tail, const std::string& winPath);

  const platform::Machine& m_;
  std::ostream& out_;
  Options opt_;
  DosPaths paths_;
  std::string cwd_;
  std::vector<std::pair<std::string, std::string>> env_;
  std::vector<std::string> changedVars_;
  bool echo_ = true;
  bool doskey_ = false;
  bool smartdrv_ = false;
  char cdDrive_ = 0;
  Stop stop_ = Stop::Finished;
  int errorLevel_ = 0;
};

}  // namespace command
