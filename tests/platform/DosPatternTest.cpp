#include <gtest/gtest.h>

#include "platform/dos_pattern.h"

using platform::dosPatternMatches;

TEST(DosPattern, MatchesAsWindows98Does) {
  struct Case {
    const char* pattern;
    const char* name;
    bool fits;
  } cases[] = {
      // everything
      {"*.*", "README", true},
      {"*.*", "Backup number 7.kvt", true},
      {"*.*", "a.b.c", true},
      {"*", "README.TXT", true},
      {"*", "", false},
      {"?", "", false},
      // only names without an extension
      {"*.", "README", true},
      {"*.", "README.TXT", false},
      {"*.", "a.b", false},
      {"ABC.", "abc", true},
      {"ABC.", "ABC.D", false},
      // X.* takes X itself
      {"X.*", "X", true},
      {"X.*", "x.txt", true},
      {"X.*", "X.tar.gz", true},
      {"X.*", "XY", false},
      {"X.*", "XY.TXT", false},
      {"X.?", "X", true},
      {"X.?", "X.A", true},
      {"X.?", "X.AB", false},
      {"*.?", "abc.txt", false},
      // ? at the end of the base or the extension may stand for nothing
      {"AB?", "AB", true},
      {"AB?", "ABC", true},
      {"AB?", "ABCD", false},
      {"AB?", "A", false},
      {"AB??", "AB", true},
      {"AB?.TXT", "AB.TXT", true},
      {"AB?.TXT", "ABC.TXT", true},
      {"AB?.TXT", "ABCD.TXT", false},
      {"*.TX?", "A.TX", true},
      // inside a name ? is exactly one character, and never the dot
      {"A?C", "ABC", true},
      {"A?C", "AC", false},
      {"A?C", "A.C", false},
      {"?.TXT", "A.TXT", true},
      {"?.TXT", "AB.TXT", false},
      // ordinary * and letters, case ignored (Windows-1252 letters too)
      {"*.txt", "README.TXT", true},
      {"*.TXT", "notes.txt", true},
      {"*.txt", "a.b.txt", true},
      {"*.txt", ".txt", true},
      {"*.txt", "txt", false},
      {"*.txt", "a.txt.bak", false},
      {"*.txt", "a.txtx", false},
      {"*.t*", "a.txt.b", true},
      {"README.TXT", "readme.txt", true},
      {"README.TXT", "readme.txt.bak", false},
      {"Backup*.KVT", "Backup number 7.kvt", true},
      {"*A*B*C", "xaYbZc", true},
      {"*A*B*C", "xaYcZb", false},
      {"A*B.TXT", "AXYZ.TXT", false},  // what follows * counts
      {"PROGRA~1", "progra~1", true},
      {"*~1.*", "BRAKVE~1", true},
      {"\xC9T\xC9.*", "\xE9t\xE9.doc", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dosPatternMatches(c.pattern, c.name), c.fits) << '"' << c.pattern << "\" on \"" << c.name << '"';
  }
}
