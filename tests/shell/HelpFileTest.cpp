#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "HelpFile.h"

using winhelp::Block;
using winhelp::HelpError;
using winhelp::parseHelp;

namespace {

std::string shippedSource() {
  std::ifstream in(BRAKVEL9X_HELP_SOURCE, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string errorOf(const std::string& text) {
  try {
    parseHelp(text, "t.hlp");
  } catch (const HelpError& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(HelpFileTest, ShippedFileHasContentsAndTopicsOneToSeven) {
  const auto help = parseHelp(shippedSource(), "BRAKVEL 9X.hlp");
  EXPECT_EQ(help.title, "Brakvel 9x Help");
  EXPECT_FALSE(help.contents.blocks.empty());
  const char* titles[] = {"Making a new backup", "Importing a Windows backup",
                          "Restoring the system", "Making the automated rescue disk",
                          "Undoing the program's last change", "Making the clean reinstall disk",
                          "Spyware blocking"};
  for (int n = 1; n <= 7; ++n) {
    const auto* t = help.topic(n);
    ASSERT_NE(t, nullptr) << n;
    EXPECT_EQ(t->title, titles[n - 1]);
    EXPECT_GE(t->blocks.size(), 4u) << "topic " << n << " is too thin to help anyone";
  }
  const std::string contents = winhelp::renderText(help, help.contents);
  EXPECT_NE(contents.find("  7  Spyware blocking"), std::string::npos);
}

TEST(HelpFileTest, BlocksAndJumps) {
  const auto help = parseHelp(
      "#HELP T\r\n#CONTENTS\r\nIntro line one\r\ncontinues here.\r\n\r\n#TOPIC 3 Three\r\n"
      "1. First step\r\nwrapped.\r\n2. Second, see {3|this topic}.\r\n- a bullet\r\n"
      "  verbatim  text\r\n; a comment\r\n",
      "t.hlp");
  EXPECT_EQ(help.contents.blocks.size(), 1u);
  EXPECT_EQ(help.contents.blocks[0].text, "Intro line one continues here.");
  const auto* t = help.topic(3);
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(t->blocks.size(), 4u);
  EXPECT_EQ(t->blocks[0].kind, Block::Kind::Step);
  EXPECT_EQ(t->blocks[0].text, "First step wrapped.");
  EXPECT_EQ(t->blocks[1].number, "2");
  EXPECT_EQ(t->blocks[2].kind, Block::Kind::Bullet);
  EXPECT_EQ(t->blocks[3].kind, Block::Kind::Verbatim);
  EXPECT_EQ(t->blocks[3].text, "verbatim  text");
  EXPECT_EQ(winhelp::renderText(help, *t),
            "Three\n\n1. First step wrapped.\n2. Second, see this topic.\n- a bullet\n"
            "  verbatim  text\n");
  const auto spans = winhelp::spans(t->blocks[1].text);
  ASSERT_EQ(spans.size(), 3u);
  EXPECT_EQ(spans[1].jump, 3);
  EXPECT_EQ(spans[1].text, "this topic");
}

TEST(HelpFileTest, BadFilesNameTheLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  for (const Case c : {
           Case{"", "t.hlp:1: a help file starts with \"#HELP title\""},
           Case{"Hello\n", "t.hlp:1: a help file starts with \"#HELP title\""},
           Case{"#HELP T\n#TOPIC 1 A\nx\n", "t.hlp:3: no #CONTENTS page"},
           Case{"#HELP T\ntext\n", "t.hlp:2: text before #CONTENTS or #TOPIC"},
           Case{"#HELP T\n#CONTENTS\n#TOPIC 0 Zero\n", "t.hlp:3: #TOPIC needs a context number from 1 to 32767"},
           Case{"#HELP T\n#CONTENTS\n#TOPIC x Zero\n", "t.hlp:3: #TOPIC needs a context number from 1 to 32767"},
           Case{"#HELP T\n#CONTENTS\n#TOPIC 2 A\n#TOPIC 2 B\n", "t.hlp:4: topic 2 is there twice"},
           Case{"#HELP T\n#CONTENTS\n#TOPIC 2\n", "t.hlp:3: topic 2 has no title"},
           Case{"#HELP T\n#CONTENTS\nsee {9|nine}\n", "t.hlp:3: jump to topic 9, which does not exist"},
           Case{"#HELP T\n#CONTENTS\n#INDEX\n", "t.hlp:3: unknown directive #INDEX"},
       }) {
    EXPECT_EQ(errorOf(c.text), c.error) << c.text;
  }
}
