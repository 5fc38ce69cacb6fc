#pragma once
#include "HelpFile.h"

namespace winhelp {

// Shows the help file in a window at a topic (0: the contents) until the
// user closes it. Returns the exit status.
int runWindow(int argc, char** argv, const HelpFile& help, int topic);

// The page as HTML for the window; jumps are links "topic:N".
std::string renderHtml(const HelpFile& help, const Page& page);

}  // namespace winhelp
