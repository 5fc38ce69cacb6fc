#include "platform/fat/dir.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"

namespace platform::fat {

namespace {

// Code page 850, bytes 0x80 to 0xFF.
constexpr char16_t kCp850[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x00C1, 0x00C2, 0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE, 0x00CF, 0x2518, 0x250C,
    0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580, 0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6,
    0x00A7, 0x00F7, 0x00B8, 0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,
};

struct Tables {
  uint8_t toOem[256]{};  // 0: no OEM form
  char toAnsi[256]{};
  Tables() {
    for (int i = 0; i < 128; ++i) {
      toOem[i] = static_cast<uint8_t>(i);
      toAnsi[i] = static_cast<char>(i);
    }
    for (int a = 128; a < 256; ++a) {
      char16_t cp = ansiToUtf16(std::string(1, static_cast<char>(a)))[0];
      for (int o = 0; o < 128; ++o) {
        if (kCp850[o] == cp) toOem[a] = static_cast<uint8_t>(0x80 + o);
      }
    }
    for (int o = 128; o < 256; ++o) toAnsi[o] = utf16ToAnsi(std::u16string(1, kCp850[o - 128]))[0];
  }
};

const Tables& tables() {
  static const Tables t;
  return t;
}

uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// Positions of the 13 characters in a long-name slot.
constexpr int kLongNameChars[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

}  // namespace

bool oemHolds(char ansi) { return tables().toOem[static_cast<unsigned char>(ansi)] != 0; }

std::array<uint8_t, 11> packShortName(std::string_view ansi83) {
  std::array<uint8_t, 11> out;
  out.fill(' ');
  size_t dot = ansi83.find('.');
  std::string_view base = ansi83.substr(0, dot);
  std::string_view ext = dot == std::string_view::npos ? std::string_view{} : ansi83.substr(dot + 1);
  auto oem = [](char c) {
    uint8_t o = tables().toOem[static_cast<unsigned char>(upperAnsi(c))];
    return o ? o : static_cast<uint8_t>('_');
  };
  for (size_t i = 0; i < base.size() && i < 8; ++i) out[i] = oem(base[i]);
  for (size_t i = 0; i < ext.size() && i < 3; ++i) out[8 + i] = oem(ext[i]);
  if (out[0] == kDeleted) out[0] = 0x05;  // a name that starts with the deleted mark
  return out;
}

std::string unpackShortName(const uint8_t* name11, uint8_t caseFlags, bool applyCase) {
  auto part = [&](int from, int len, bool lower) {
    std::string s;
    for (int i = from; i < from + len; ++i) {
      uint8_t b = name11[i];
      if (i == 0 && b == 0x05) b = kDeleted;
      s += tables().toAnsi[b];
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return lower ? lowerAnsi(s) : s;
  };
  std::string name = part(0, 8, applyCase && (caseFlags & 0x08));
  std::string ext = part(8, 3, applyCase && (caseFlags & 0x10));
  return ext.empty() ? name : name + "." + ext;
}

uint8_t checksum(const uint8_t* name11) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) ? 0x80 : 0) + (sum >> 1) + name11[i]);
  return sum;
}

uint16_t packDate(const DateTime& t) {
  if (t.year < 1980) return (1 << 5) | 1;
  if (t.year > 2107) return static_cast<uint16_t>(127 << 9 | 12 << 5 | 31);
  return static_cast<uint16_t>((t.year - 1980) << 9 | t.month << 5 | t.day);
}

uint16_t packTime(const DateTime& t) {
  if (t.year < 1980) return 0;
  if (t.year > 2107) return static_cast<uint16_t>(23 << 11 | 59 << 5 | 29);
  return static_cast<uint16_t>(t.hour << 11 | t.minute << 5 | t.second / 2);
}

DateTime unpack(uint16_t date, uint16_t time) {
  DateTime t;
  t.year = 1980 + (date >> 9);
  t.month = std::clamp((date >> 5) & 0xF, 1, 12);
  t.day = std::clamp(date & 0x1F, 1, 31);
  t.hour = std::min(time >> 11, 23);
  t.minute = std::min((time >> 5) & 0x3F, 59);
  t.second = std::min((time & 0x1F) * 2, 58);
  return t;
}

std::vector<Slot> longNameSlots(std::string_view ansi, const std::string& shortName, uint8_t sum) {
  if (ansi == shortName) return {};
  std::u16string name = ansiToUtf16(ansi);
  size_t parts = (name.size() + 12) / 13;
  std::vector<Slot> out;
  for (size_t k = parts; k >= 1; --k) {
    Slot s{};
    s[0] = static_cast<uint8_t>(k | (k == parts ? 0x40 : 0));
    s[11] = kLongNameAttr;
    s[13] = sum;
    for (size_t i = 0; i < 13; ++i) {
      size_t at = (k - 1) * 13 + i;
      uint16_t ch = at < name.size() ? name[at] : at == name.size() ? 0 : 0xFFFF;
      put16(s.data() + kLongNameChars[i], ch);
    }
    out.push_back(s);
  }
  return out;
}

Slot makeShortSlot(const ShortFields& f) {
  Slot s{};
  std::copy(f.name.begin(), f.name.end(), s.begin());
  s[11] = f.attributes;
  s[13] = static_cast<uint8_t>((f.created.second % 2) * 100);
  put16(s.data() + 14, packTime(f.created));
  put16(s.data() + 16, packDate(f.created));
  put16(s.data() + 18, packDate(f.accessed));
  setCluster(s, f.firstCluster);
  put16(s.data() + 22, packTime(f.modified));
  put16(s.data() + 24, packDate(f.modified));
  put16(s.data() + 28, f.size & 0xFFFF);
  put16(s.data() + 30, f.size >> 16);
  return s;
}

void setCluster(Slot& s, uint32_t c) {
  put16(s.data() + 20, c >> 16);
  put16(s.data() + 26, c & 0xFFFF);
}

uint32_t clusterOf(const uint8_t* s) { return static_cast<uint32_t>(u16(s + 20)) << 16 | u16(s + 26); }

void setTimesOf(Slot& s, const FileTimes& t) {
  if (t.modified) {
    put16(s.data() + 22, packTime(*t.modified));
    put16(s.data() + 24, packDate(*t.modified));
  }
  if (t.created) {
    s[13] = static_cast<uint8_t>((t.created->second % 2) * 100);
    put16(s.data() + 14, packTime(*t.created));
    put16(s.data() + 16, packDate(*t.created));
  }
  if (t.accessed) put16(s.data() + 18, packDate(*t.accessed));
}

std::vector<Record> parseSlots(const uint8_t* slots, size_t count, size_t* end) {
  std::vector<Record> out;
  std::u16string longName;
  size_t longFirst = 0;
  int expect = 0;  // the sequence number the next long-name slot must carry; 0: none pending
  uint8_t sum = 0;
  size_t i = 0;
  for (; i < count; ++i) {
    const uint8_t* s = slots + i * 32;
    if (s[0] == 0) break;
    if (s[0] == kDeleted) {
      expect = 0;
      continue;
    }
    if ((s[11] & 0x3F) == kLongNameAttr) {
      int ord = s[0] & 0x3F;
      if ((s[0] & 0x40) && ord >= 1 && ord <= 20) {
        longName.assign(static_cast<size_t>(ord) * 13, u'\0');
        longFirst = i;
        sum = s[13];
      } else if (expect == 0 || ord != expect || s[13] != sum) {
        expect = 0;
        continue;
      }
      for (int k = 0; k < 13; ++k) longName[static_cast<size_t>(ord - 1) * 13 + k] = static_cast<char16_t>(u16(s + kLongNameChars[k]));
      expect = ord - 1;
      if (expect == 0) expect = -1;  // complete: the short slot must come next
      continue;
    }
    bool haveLong = expect == -1 && checksum(s) == sum;
    expect = 0;
    if (s[11] & kVolumeAttr) continue;
    if (s[0] == '.' && (s[1] == ' ' || (s[1] == '.' && s[2] == ' '))) continue;
    Record r;
    r.entry.shortName = unpackShortName(s, 0, false);
    if (haveLong) {
      size_t len = longName.find(u'\0');
      r.entry.name = utf16ToAnsi(std::u16string_view(longName).substr(0, len));
      r.first = longFirst;
      r.count = i - longFirst + 1;
    } else {
      r.entry.name = unpackShortName(s, s[12], true);
      r.first = i;
      r.count = 1;
    }
    r.entry.attributes = static_cast<uint8_t>(s[11] & 0x37);
    r.firstCluster = clusterOf(s);
    r.entry.size = (r.entry.attributes & kDirectory) ? 0 : static_cast<uint32_t>(u16(s + 28) | u16(s + 30) << 16);
    r.entry.modified = unpack(u16(s + 24), u16(s + 22));
    r.entry.created = unpack(u16(s + 16), u16(s + 14));
    if (s[13] >= 100 && r.entry.created.second < 59) ++r.entry.created.second;
    r.entry.accessed = unpack(u16(s + 18), 0);
    out.push_back(std::move(r));
  }
  if (end) *end = i;
  return out;
}

}  // namespace platform::fat
