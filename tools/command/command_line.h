#pragma once
// Taking a DOS command line apart, as COMMAND.COM does: blanks (and, after
// a command name, = , ;) separate words, double quotes group them.
#include <string>
#include <string_view>
#include <vector>

namespace command {

bool isBlank(char c);
// What ends a command name or separates arguments: blanks and = , ;
bool isDelimiter(char c);

std::string_view trimLeft(std::string_view s);
// Also drops a line end left at the back.
std::string_view trim(std::string_view s);
std::string_view skipDelimiters(std::string_view s);

// Reads one blank-separated word (quotes group and are dropped) from the
// front of s and removes it.
std::string takeWord(std::string_view& s);

// The arguments of a command: blanks and = , ; separate; double quotes
// group and are dropped.
std::vector<std::string> splitArgs(std::string_view s);

// "SETUP" and ".EXE" of "D:\Setup.exe", in capitals; no dot, no extension.
std::string stemOf(const std::string& token);
std::string extOf(const std::string& token);

// The text starts with a drive letter and a colon.
bool hasDrive(std::string_view s);

}  // namespace command
