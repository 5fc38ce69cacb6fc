#pragma once
// Our help file format (the program's "BRAKVEL 9X.hlp"): ANSI text, lines
// ending in CR LF or LF.
//   #HELP title            first line: the help file's title
//   #CONTENTS              starts the contents page
//   #TOPIC n title         starts the topic with context number n (1..32767)
//   ; comment              ignored
// Inside a page: blank lines separate paragraphs; a line starting "- " is a
// bullet, "N. " a numbered step; other lines continue the block above; a
// line starting with two blanks is kept as it is. {n|text} is a jump to
// topic n showing text. The viewer lists every topic after the contents.
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace winhelp {

struct Block {
  enum class Kind { Paragraph, Bullet, Step, Verbatim };
  Kind kind = Kind::Paragraph;
  std::string number;  // of a step ("3")
  std::string text;    // ANSI, jumps still in {n|text} form
};

struct Page {
  int context = 0;  // 0 for the contents
  std::string title;
  std::vector<Block> blocks;
};

struct HelpFile {
  std::string title;
  Page contents;
  std::vector<Page> topics;  // in file order
  const Page* topic(int context) const;
};

class HelpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws HelpError "NAME:LINE: what is wrong" (a missing header or contents,
// a bad or repeated context number, a jump to a topic that does not exist).
HelpFile parseHelp(std::string_view text, const std::string& name);

// A jump inside a block's text.
struct Span {
  std::string text;
  int jump = 0;  // topic number, 0 for plain text
};
std::vector<Span> spans(std::string_view blockText);

// The page as plain ANSI text (LF line ends), for the headless viewer; the
// contents page ends with the list of topics.
std::string renderText(const HelpFile& help, const Page& page);

}  // namespace winhelp
