#pragma once
// Text inside the program is ANSI (Windows-1252 bytes); the host speaks UTF-8.
#include <string>
#include <string_view>

namespace platform {

std::string ansiToUtf8(std::string_view ansi);
// Characters without a Windows-1252 form become '?'.
std::string utf8ToAnsi(std::string_view utf8);
// The same for UTF-16 (long file names); an unpaired surrogate becomes '?'.
std::u16string ansiToUtf16(std::string_view ansi);
std::string utf16ToAnsi(std::u16string_view utf16);

// Windows-1252 case mapping (letters with accents included).
char upperAnsi(char c);
char lowerAnsi(char c);
std::string upperAnsi(std::string_view s);
std::string lowerAnsi(std::string_view s);
bool equalsNoCase(std::string_view a, std::string_view b);
// <0, 0, >0 like strcmp, ignoring case.
int compareNoCase(std::string_view a, std::string_view b);

inline constexpr const char* kCrLf = "\r\n";

}  // namespace platform
