#pragma once
// modReplaceFiles: short paths, and the [Rename] lines of WinInit.ini that
// Windows carries out at its next start.
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine.h"

namespace app {

// GetShortPathName into a buffer of 165 characters: the 8.3 form of an
// existing path, or empty text when the path does not exist or its short
// form does not fit the buffer.
std::string ShortPath(const platform::Machine& m, std::string_view path);

// One replacement: the file target is replaced by source at the next start.
// Both are full Windows paths of existing files, in any form.
struct RenameEntry {
  std::string target;
  std::string source;
};

// A file of an entry is missing (it has no short form); nothing was staged.
class MissingFileError : public std::runtime_error {
 public:
  explicit MissingFileError(std::string path);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Windows directory + "\WinInit.ini".
std::string winInitPath(const platform::Machine& m);

// The text of WinInit.ini after appending the line: a file that does not
// exist yet (existing == nullptr) starts with "[Rename]"; an existing text is
// kept byte for byte, a CR LF added first when it does not end in one.
std::string appendRenameLine(const std::string* existing, std::string_view line);

// Adds the lines of all entries, in order, to WinInit.ini in one atomic
// replacement. Every file is checked first: a missing one throws
// MissingFileError and nothing is written. platform::Error reaches the
// caller when the file cannot be read or written. Returns true when the
// file was created (its "[Rename]" header is ours).
bool WriteRenameEntries(const platform::Machine& m, const std::vector<RenameEntry>& entries);
// One entry.
bool WriteRenameEntry(const platform::Machine& m, std::string_view target, std::string_view source);

// Takes this program's lines out of a WinInit.ini text: every line equal
// (without regard to case) to one of ours. The "[Rename]" header goes too
// when ownHeader is set, it is the file's first line and nothing is left
// under it. Text that is then empty or blank comes back empty.
std::string removeRenameLines(std::string_view text, const std::vector<std::string>& ours,
                              bool ownHeader);

}  // namespace app
