// winhelp: the machine's help viewer.
//   winhelp [-n N] FILE          window at topic N, or at the contents
//   winhelp --print [-n N] FILE  the page as text on standard output
//   winhelp --check FILE         parse only; FILE:LINE: message on error
//   winhelp --compile SRC DEST   check SRC and write it as DEST with CR LF
// FILE is a host path, or a Windows path of the machine (BRAKVEL9X_MACHINE).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "HelpFile.h"
#include "HelpLocate.h"

#ifdef BRAKVEL9X_WINHELP_QT
#include "HelpWindow.h"
#endif

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: winhelp [--print] [-n TOPIC] FILE\n"
               "       winhelp --check FILE\n"
               "       winhelp --compile SOURCE DEST\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool print = false, check = false, compile = false;
  int topic = 0;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--print") {
      print = true;
    } else if (a == "--check") {
      check = true;
    } else if (a == "--compile") {
      compile = true;
    } else if ((a == "-n" || a == "--topic") && i + 1 < argc) {
      topic = std::atoi(argv[++i]);
      if (topic <= 0) {
        std::fprintf(stderr, "winhelp: %s is not a topic number\n", argv[i]);
        return 2;
      }
    } else if (a.size() > 2 && a.rfind("-n", 0) == 0 && std::atoi(a.c_str() + 2) > 0) {
      topic = std::atoi(a.c_str() + 2);
    } else if (!a.empty() && a[0] == '-' && a != "-") {
      return usage();
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != (compile ? 2u : 1u)) return usage();

  std::string shownName;
  std::optional<std::string> read;
  try {
    read = winhelp::readHelpFile(files[0], &shownName);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "winhelp: %s\n", e.what());
    return 1;
  }
  if (!read) {
    std::fprintf(stderr, "winhelp: cannot open the help file %s\n", shownName.c_str());
    return 1;
  }
  const std::string& text = *read;
  winhelp::HelpFile help;
  try {
    help = winhelp::parseHelp(text, shownName);
  } catch (const winhelp::HelpError& e) {
    std::fprintf(stderr, "winhelp: %s\n", e.what());
    return 1;
  }
  if (check) return 0;
  if (compile) {
    std::string crlf;
    for (char c : text) {
      if (c == '\r') continue;
      if (c == '\n') crlf += '\r';
      crlf += c;
    }
    const std::string temp = files[1] + ".tmp";
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      out << crlf;
      if (!out.flush()) {
        std::fprintf(stderr, "winhelp: cannot write %s\n", temp.c_str());
        return 1;
      }
    }
    if (std::rename(temp.c_str(), files[1].c_str()) != 0) {
      std::fprintf(stderr, "winhelp: cannot write %s: %s\n", files[1].c_str(), std::strerror(errno));
      return 1;
    }
    return 0;
  }

  const winhelp::Page* page = &help.contents;
  if (topic != 0) {
    page = help.topic(topic);
    if (page == nullptr) {
      std::fprintf(stderr, "winhelp: %s has no topic %d\n", shownName.c_str(), topic);
      return 1;
    }
  }
  if (print) {
    std::fputs(winhelp::toUtf8(winhelp::renderText(help, *page)).c_str(), stdout);
    std::fputs("\n", stdout);
    return 0;
  }
#ifdef BRAKVEL9X_WINHELP_QT
  return winhelp::runWindow(argc, argv, help, topic);
#else
  std::fprintf(stderr, "winhelp: built without windows; use --print\n");
  return 1;
#endif
}
