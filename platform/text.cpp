#include "platform/text.h"

#include <cstdint>

namespace platform {

namespace {

// Unicode of the bytes 0x80..0x9F; the five unassigned bytes map to the C1
// control of the same number, as Windows' own conversion does, so that they
// survive a round trip.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void putUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char ansiOf(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == cp) return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

std::string ansiToUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size() + ansi.size() / 4);
  for (char ch : ansi) {
    auto b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      out += ch;
    } else if (b < 0xA0) {
      putUtf8(out, kHigh[b - 0x80]);
    } else {
      putUtf8(out, b);
    }
  }
  return out;
}

std::string utf8ToAnsi(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    int len = b >= 0xF0 && b < 0xF8 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
    if (b >= 0xF8) len = 0;
    uint32_t cp = len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
    bool ok = len != 0 && i + len <= utf8.size();
    for (int k = 1; ok && k < len; ++k) {
      auto c = static_cast<unsigned char>(utf8[i + k]);
      if ((c & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (ok && ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))) ok = false;
    if (!ok) {
      // Not UTF-8 at all: most likely a name written in the old code page
      // already, so the byte is kept as it is.
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    out += ansiOf(cp);
    i += len;
  }
  return out;
}

std::u16string ansiToUtf16(std::string_view ansi) {
  std::u16string out;
  out.reserve(ansi.size());
  for (char ch : ansi) {
    auto b = static_cast<unsigned char>(ch);
    out += b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : static_cast<char16_t>(b);
  }
  return out;
}

std::string utf16ToAnsi(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    char16_t c = utf16[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] < 0xE000) {
      ++i;  // a character beyond the BMP: no Windows-1252 form
      out += '?';
    } else {
      out += (c >= 0xD800 && c < 0xE000) ? '?' : ansiOf(c);
    }
  }
  return out;
}

char upperAnsi(char c) {
  auto b = static_cast<unsigned char>(c);
  if (b >= 'a' && b <= 'z') return static_cast<char>(b - 32);
  if (b >= 0xE0 && b <= 0xFE && b != 0xF7) return static_cast<char>(b - 32);
  switch (b) {
    case 0x9A: return static_cast<char>(0x8A);  // š
    case 0x9C: return static_cast<char>(0x8C);  // œ
    case 0x9E: return static_cast<char>(0x8E);  // ž
    case 0xFF: return static_cast<char>(0x9F);  // ÿ
    default: return c;
  }
}

char lowerAnsi(char c) {
  auto b = static_cast<unsigned char>(c);
  if (b >= 'A' && b <= 'Z') return static_cast<char>(b + 32);
  if (b >= 0xC0 && b <= 0xDE && b != 0xD7) return static_cast<char>(b + 32);
  switch (b) {
    case 0x8A: return static_cast<char>(0x9A);
    case 0x8C: return static_cast<char>(0x9C);
    case 0x8E: return static_cast<char>(0x9E);
    case 0x9F: return static_cast<char>(0xFF);
    default: return c;
  }
}

std::string upperAnsi(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = upperAnsi(c);
  return out;
}

std::string lowerAnsi(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lowerAnsi(c);
  return out;
}

int compareNoCase(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(upperAnsi(a[i]));
    auto y = static_cast<unsigned char>(upperAnsi(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && compareNoCase(a, b) == 0;
}

}  // namespace platform
