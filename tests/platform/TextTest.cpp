#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/text.h"

using namespace platform;

TEST(Text, EveryAnsiByteSurvivesTheTripThroughUtf8) {
  for (int b = 1; b < 256; ++b) {
    std::string ansi(1, static_cast<char>(b));
    EXPECT_EQ(utf8ToAnsi(ansiToUtf8(ansi)), ansi) << "byte " << b;
  }
}

TEST(Text, ConvertsTheWindowsCharacters) {
  struct Case {
    std::string ansi, utf8;
  } cases[] = {
      {"\x80", "\xE2\x82\xAC"},        // euro sign
      {"\x8A", "\xC5\xA0"},            // S caron
      {"\x93Hi\x94", "\xE2\x80\x9CHi\xE2\x80\x9D"},
      {"Gr\xFC\xDF", "Gr\xC3\xBC\xC3\x9F"},
      {"C:\\Program Files", "C:\\Program Files"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ansiToUtf8(c.ansi), c.utf8);
    EXPECT_EQ(utf8ToAnsi(c.utf8), c.ansi);
  }
}

TEST(Text, CharactersWithoutAnAnsiFormBecomeQuestionMarks) {
  EXPECT_EQ(utf8ToAnsi("x\xE6\x97\xA5y"), "x?y");      // CJK
  EXPECT_EQ(utf8ToAnsi("\xF0\x9F\x98\x80"), "?");       // emoji
  EXPECT_EQ(utf8ToAnsi("caf\xE9"), "caf\xE9");          // not UTF-8: kept as the old code page
}

TEST(Text, CaseMappingKnowsTheAccentedLetters) {
  struct Case {
    char lower, upper;
  } pairs[] = {{'a', 'A'}, {'z', 'Z'}, {'\xE9', '\xC9'}, {'\xFC', '\xDC'},
               {'\x9A', '\x8A'}, {'\x9C', '\x8C'}, {'\x9E', '\x8E'}, {'\xFF', '\x9F'}};
  for (auto p : pairs) {
    EXPECT_EQ(upperAnsi(p.lower), p.upper);
    EXPECT_EQ(lowerAnsi(p.upper), p.lower);
  }
  // Signs with no case stay as they are.
  for (char c : {'\xD7', '\xF7', '\xDF', '1', '~', '\\'}) {
    EXPECT_EQ(upperAnsi(c), c);
    EXPECT_EQ(lowerAnsi(c), c);
  }
}

TEST(Text, ComparesWithoutCase) {
  EXPECT_TRUE(equalsNoCase("\\Exchange\\INFO.txt", "\\exchange\\info.TXT"));
  EXPECT_TRUE(equalsNoCase("M\xDCLLER", "m\xFCller"));
  EXPECT_FALSE(equalsNoCase("abc", "abcd"));
  EXPECT_LT(compareNoCase("apple", "Banana"), 0);
  EXPECT_GT(compareNoCase("b", "A"), 0);
  EXPECT_LT(compareNoCase("ab", "AbC"), 0);
  EXPECT_EQ(compareNoCase("Win.INI", "win.ini"), 0);
}

TEST(Errors, CarryNumberDescriptionAndDetail) {
  Error e(kFileNotFound, "C:\\WINDOWS\\Classes.dat");
  EXPECT_EQ(e.number(), 53);
  EXPECT_EQ(e.description(), "File not found");
  EXPECT_STREQ(e.what(), "File not found: C:\\WINDOWS\\Classes.dat");
  EXPECT_STREQ(Error(kDiskNotReady).what(), "Disk not ready");
  EXPECT_EQ(Error(kPathFileAccess, "Cannot run", "x").description(), "Cannot run");
  EXPECT_EQ(errorDescription(kPathNotFound), "Path not found");
  EXPECT_EQ(errorDescription(kPermissionDenied), "Permission denied");
}
