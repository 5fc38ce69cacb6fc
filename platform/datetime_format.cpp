#include <array>
#include <string>

#include "platform/files.h"
#include "platform/registry/registry.h"

namespace platform {

namespace {

constexpr std::array<const char*, 12> kMonths = {"January", "February", "March",     "April",
                                                 "May",     "June",     "July",      "August",
                                                 "September", "October", "November", "December"};
constexpr std::array<const char*, 7> kDays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                              "Thursday", "Friday", "Saturday"};

int dayOfWeek(int y, int m, int d) {  // 0 = Sunday
  static constexpr int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (m < 3) y -= 1;
  return (y + y / 4 - y / 100 + y / 400 + t[(m - 1) % 12] + d) % 7;
}

void number(std::string& out, int v, int width) {
  std::string s = std::to_string(v);
  while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
  out += s;
}

// The International values the formats need, read once per conversion.
struct International {
  std::string shortDate = "M/d/yyyy";
  std::string timeFormat = "h:mm:ss tt";
  std::string am = "AM", pm = "PM";

  explicit International(const Machine& m) {
    using namespace reg;
    Registry r(m);
    HKEY h = 0;
    if (r.RegOpenKeyEx(HKEY_CURRENT_USER, "Control Panel\\International", 0x20019, &h) != ERROR_SUCCESS)
      return;
    auto read = [&](const char* name, std::string& into) {
      uint32_t type = 0, size = 0;
      if (r.RegQueryValueEx(h, name, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) return;
      std::string buf(size, '\0');
      if (r.RegQueryValueEx(h, name, &type, buf.data(), &size) != ERROR_SUCCESS) return;
      buf.resize(size);
      into = buf.substr(0, buf.find('\0'));
    };
    read("sShortDate", shortDate);
    read("sTimeFormat", timeFormat);
    read("s1159", am);
    read("s2359", pm);
    r.RegCloseKey(h);
  }
};

// A Windows date or time picture: runs of d M y h H m s t are fields, text
// in quotes is literal, everything else is copied.
std::string picture(std::string_view pic, const DateTime& t, const International& intl) {
  std::string out;
  for (size_t i = 0; i < pic.size();) {
    char c = pic[i];
    if (c == '\'' && i + 1 < pic.size() && pic[i + 1] == '\'') {  // '' is one quote
      out += '\'';
      i += 2;
      continue;
    }
    if (c == '\'' || c == '"') {
      size_t j = i + 1;
      for (; j < pic.size(); ++j) {
        if (pic[j] == c) {
          if (c == '\'' && j + 1 < pic.size() && pic[j + 1] == '\'') {  // '' inside quotes
            out += '\'';
            ++j;
            continue;
          }
          break;
        }
        out += pic[j];
      }
      i = j + 1;
      continue;
    }
    size_t n = 1;
    while (i + n < pic.size() && pic[i + n] == c) ++n;
    int h12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
    const std::string& ampm = t.hour < 12 ? intl.am : intl.pm;
    switch (c) {
      case 'd':
        if (n <= 2) number(out, t.day, static_cast<int>(n));
        else {
          std::string name = kDays[static_cast<size_t>(dayOfWeek(t.year, t.month, t.day))];
          out += n == 3 ? name.substr(0, 3) : name;
        }
        break;
      case 'M':
        if (n <= 2) number(out, t.month, static_cast<int>(n));
        else {
          std::string name = kMonths[static_cast<size_t>((t.month + 11) % 12)];
          out += n == 3 ? name.substr(0, 3) : name;
        }
        break;
      case 'y':
        if (n == 1) number(out, t.year % 100, 1);
        else if (n == 2) number(out, t.year % 100, 2);
        else number(out, t.year, 4);
        break;
      case 'h': number(out, h12, n >= 2 ? 2 : 1); break;
      case 'H': number(out, t.hour, n >= 2 ? 2 : 1); break;
      case 'm': number(out, t.minute, n >= 2 ? 2 : 1); break;
      case 's': number(out, t.second, n >= 2 ? 2 : 1); break;
      case 't':
        if (n == 1) out += ampm.substr(0, 1);
        else out += ampm;
        break;
      default:
        out.append(n, c);
    }
    i += n;
  }
  return out;
}

}  // namespace

std::string formatShortDate(const Machine& m, const DateTime& t) {
  International intl(m);
  return picture(intl.shortDate, t, intl);
}

std::string formatTime(const Machine& m, const DateTime& t) {
  International intl(m);
  return picture(intl.timeFormat, t, intl);
}

std::string formatDateTime(const Machine& m, const DateTime& t) {
  International intl(m);
  std::string s = picture(intl.shortDate, t, intl);
  if (t.hour || t.minute || t.second) s += ' ' + picture(intl.timeFormat, t, intl);
  return s;
}

}  // namespace platform
