#include "platform/registry/script_text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include <sys/mman.h>

#include "platform/text.h"

namespace platform::hive {

namespace {

// -1 for a character that is not a hex digit.
struct HexTable {
  std::array<signed char, 256> v{};
  HexTable() {
    v.fill(-1);
    for (int c = '0'; c <= '9'; ++c) v[c] = static_cast<signed char>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) v[c] = static_cast<signed char>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c) v[c] = static_cast<signed char>(c - 'A' + 10);
  }
};
const HexTable& hexTable() {
  static const HexTable t;
  return t;
}

constexpr char kHexDigits[] = "0123456789abcdef";

}  // namespace

// ---------------------------------------------------------------------------
// The buffer

TextBuffer::~TextBuffer() {
  if (data_) munmap(data_, cap_);
}

// Below a huge page the buffer takes ordinary pages: a huge one is cleared
// whole on first touch.
void TextBuffer::reserve(size_t n) {
  if (n <= cap_) return;
  constexpr size_t kPage = 4096;
  n = n >= kHugePage ? roundToHuge(n) : (n + kPage - 1) & ~(kPage - 1);
  void* d = data_ ? mremap(data_, cap_, n, MREMAP_MAYMOVE)  // the kernel moves the pages
                  : mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (d == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  if (n >= kHugePage) madvise(d, n, MADV_HUGEPAGE);
#endif
  data_ = static_cast<char*>(d);
  cap_ = n;
  if (!spill_) limit_ = n;
}

void TextBuffer::makeRoom(size_t n) {
  if (spill_) {
    if (size_ > 0) spill_(view());
    size_ = 0;
    reserve(n);
    limit_ = std::max(chunk_, n);
    return;
  }
  reserve(std::max(cap_ * 2, size_ + n));
}

void TextBuffer::append(std::string_view s) {
  std::memcpy(tail(s.size()), s.data(), s.size());
  size_ += s.size();
}

void TextBuffer::spillTo(size_t chunk, std::function<void(std::string_view)> spill) {
  flushSpill();
  reserve(chunk);
  chunk_ = chunk;
  limit_ = chunk;
  spill_ = std::move(spill);
}

void TextBuffer::flushSpill() {
  if (spill_ && size_ > 0) spill_(view());
  if (spill_) size_ = 0;
}

// ---------------------------------------------------------------------------
// Parsing

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimRight(std::string_view s) {
  while (!s.empty() && (isBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::string_view trimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && isBlank(s[i])) ++i;
  return s.substr(i);
}

bool startsNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && sameName(s.substr(0, prefix.size()), prefix);
}

std::string quoteForMessage(std::string_view s) {
  if (s.size() > 40) return "\"" + std::string(s.substr(0, 40)) + "...\"";
  return "\"" + std::string(s) + "\"";
}

// UTF-16LE bytes to ANSI text.
bool utf16ToAnsi(std::string_view bytes, std::string& out) {
  if (bytes.size() % 2 != 0) return false;
  std::string utf8;
  utf8.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); i += 2) {
    uint32_t c = static_cast<unsigned char>(bytes[i]) |
                 (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
      uint32_t lo = static_cast<unsigned char>(bytes[i + 2]) |
                    (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 3])) << 8);
      if (lo >= 0xDC00 && lo < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
        i += 2;
      }
    }
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      utf8 += static_cast<char>(0xE0 | (c >> 12));
      utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | (c >> 18));
      utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  out = utf8ToAnsi(utf8);
  return true;
}

class Parser {
 public:
  Parser(std::string_view text, TextSink& sink) : text_(text), sink_(sink) {}

  std::optional<TextError> run(Dialect* dialect) {
    if (text_.size() >= 2 && ((text_[0] == '\xFF' && text_[1] == '\xFE') ||
                              (text_[0] == '\xFE' && text_[1] == '\xFF')))
      return TextError{1, "not an ANSI text file (it is UTF-16)"};
    if (text_.size() >= 3 && text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    if (const void* nul = std::memchr(text_.data(), 0, text_.size())) {
      size_t at = static_cast<size_t>(static_cast<const char*>(nul) - text_.data());
      size_t line = 1 + static_cast<size_t>(std::count(text_.begin(),
                                                       text_.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
      return TextError{line, "not a text file (it holds a NUL byte)"};
    }

    std::string_view line;
    bool haveHeader = false;
    while (nextLine(line)) {
      std::string_view t = trimRight(trimLeft(line));
      if (t.empty()) continue;
      if (sameName(t, kRegedit4Header)) {
        dialect_ = Dialect::Regedit4;
      } else if (sameName(t, kVersion5Header)) {
        dialect_ = Dialect::Version5;
      } else {
        return TextError{lineNo_, "unknown header " + quoteForMessage(t) + " (expected \"" +
                                      std::string(kRegedit4Header) + "\" or \"" +
                                      std::string(kVersion5Header) + "\")"};
      }
      haveHeader = true;
      break;
    }
    if (!haveHeader) return TextError{lineNo_ == 0 ? 1 : lineNo_, "no header: the file is empty"};
    if (dialect) *dialect = dialect_;

    while (nextLine(line)) {
      std::string_view t = trimLeft(line);
      if (t.empty() || t[0] == '\r') continue;
      std::string err;
      size_t at = lineNo_;
      switch (t[0]) {
        case ';':
          continue;
        case '[':
          err = keyLine(trimRight(t));
          break;
        case '"':
        case '@':
          err = valueLine(t);
          break;
        default: {
          std::string_view r = trimRight(t);
          if (r.empty()) continue;
          err = "not a key, value or comment line: " + quoteForMessage(r);
        }
      }
      if (!err.empty()) return TextError{at, std::move(err)};
    }
    return std::nullopt;
  }

 private:
  bool nextLine(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    const char* start = text_.data() + pos_;
    const void* nl = std::memchr(start, '\n', text_.size() - pos_);
    size_t len = nl ? static_cast<size_t>(static_cast<const char*>(nl) - start) : text_.size() - pos_;
    line = std::string_view(start, len);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos_ += len + (nl ? 1 : 0);
    ++lineNo_;
    return true;
  }

  std::string keyLine(std::string_view t) {
    if (t.back() != ']') {
      size_t close = t.rfind(']');
      if (close == std::string_view::npos) return "key line without its closing bracket";
      return "text after the closing bracket of the key";
    }
    std::string_view path = t.substr(1, t.size() - 2);
    bool remove = false;
    if (!path.empty() && path[0] == '-') {
      remove = true;
      path.remove_prefix(1);
    }
    if (path.empty()) return "empty key name";
    haveKey_ = true;
    keyRemoved_ = remove;
    return sink_.key(lineNo_, path, remove);
  }

  // Quoted text with the escapes \\ and \" (cursor on the opening quote).
  // Text without escapes is handed on as it stands; otherwise it is
  // unescaped into buf.
  std::string quoted(std::string_view t, size_t& i, std::string& buf, std::string_view& out) {
    ++i;
    const size_t begin = i;
    // The closing quote, and no backslash before it: the common case, found
    // with the library's fast searches.
    const void* q = std::memchr(t.data() + i, '"', t.size() - i);
    const size_t quote = q ? static_cast<size_t>(static_cast<const char*>(q) - t.data()) : t.size();
    const void* b = std::memchr(t.data() + i, '\\', quote - i);
    i = b ? static_cast<size_t>(static_cast<const char*>(b) - t.data()) : quote;
    if (i < t.size() && t[i] == '"') {
      out = t.substr(begin, i - begin);
      ++i;
      return {};
    }
    buf.assign(t.data() + begin, i - begin);
    size_t runStart = i;
    while (i < t.size()) {
      char c = t[i];
      if (c == '"') {
        buf.append(t.data() + runStart, i - runStart);
        ++i;
        out = buf;
        return {};
      }
      if (c == '\\') {
        buf.append(t.data() + runStart, i - runStart);
        if (i + 1 >= t.size()) return "bad escape: a backslash at the end of the line";
        char e = t[i + 1];
        if (e != '\\' && e != '"')
          return std::string("bad escape \\") + e + " (only \\\\ and \\\" are allowed)";
        buf += e;
        i += 2;
        runStart = i;
        continue;
      }
      ++i;
    }
    return "missing closing quote";
  }

  std::string valueLine(std::string_view t) {
    if (!haveKey_) return "value line before any key";
    if (keyRemoved_) return "value line under a key that is being deleted";
    size_t i = 0;
    std::string_view name;
    if (t[0] == '@') {
      i = 1;
    } else {
      std::string err = quoted(t, i, name_, name);
      if (!err.empty()) return err + " in the value name";
    }
    while (i < t.size() && isBlank(t[i])) ++i;
    if (i >= t.size() || t[i] != '=') return "missing '=' after the value name";
    ++i;
    while (i < t.size() && isBlank(t[i])) ++i;
    std::string_view d = trimRight(t.substr(i));
    if (d.empty()) return "missing value data after '='";
    if (d == "-") return sink_.removeValue(lineNo_, name);
    if (d[0] == '"') {
      size_t j = 0;
      std::string_view text;
      std::string err = quoted(d, j, text_buf_, text);
      if (!err.empty()) return err;
      if (j != d.size()) return "text after the closing quote";
      data_.assign(text);
      data_ += '\0';
      return sink_.value(lineNo_, name, 1, data_);
    }
    if (startsNoCase(d, "dword:")) {
      std::string_view digits = d.substr(6);
      const auto& hx = hexTable().v;
      uint32_t v = 0;
      bool ok = digits.size() == 8;
      for (size_t k = 0; ok && k < 8; ++k) {
        int h = hx[static_cast<unsigned char>(digits[k])];
        if (h < 0) ok = false;
        v = (v << 4) | static_cast<uint32_t>(h);
      }
      if (!ok) return "dword value is not 8 hex digits: " + quoteForMessage(digits);
      data_.assign({static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                    static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)});
      return sink_.value(lineNo_, name, 4, data_);
    }
    if (startsNoCase(d, "hex")) {
      uint32_t type = 3;
      size_t k = 3;
      if (k < d.size() && d[k] == '(') {
        size_t close = d.find(')', k);
        if (close == std::string_view::npos || close == k + 1 || close - k - 1 > 8)
          return "bad value type in hex(N)";
        type = 0;
        for (size_t q = k + 1; q < close; ++q) {
          int h = hexTable().v[static_cast<unsigned char>(d[q])];
          if (h < 0) return "bad value type in hex(N)";
          type = (type << 4) | static_cast<uint32_t>(h);
        }
        k = close + 1;
      }
      if (k >= d.size() || d[k] != ':') return "missing ':' after hex";
      size_t firstLine = lineNo_;
      std::string err = hexBytes(d.substr(k + 1));
      if (!err.empty()) return err;
      if (dialect_ == Dialect::Version5 && (type == 1 || type == 2 || type == 7)) {
        std::string ansi;
        if (!utf16ToAnsi(data_, ansi)) return "odd number of bytes in UTF-16 text";
        data_ = std::move(ansi);
      }
      return sink_.value(firstLine, name, type, data_);
    }
    return "unknown value type: " + quoteForMessage(d);
  }

  // Comma-separated byte pairs; a line ending in a backslash goes on.
  std::string hexBytes(std::string_view d) {
    data_.clear();
    const auto& hx = hexTable().v;
    for (;;) {
      size_t i = 0;
      bool more = false;
      // The usual "xx,xx,xx" without blanks, quickly; anything else below.
      while (i + 2 <= d.size() && hx[static_cast<unsigned char>(d[i])] >= 0 &&
             hx[static_cast<unsigned char>(d[i + 1])] >= 0 && (i + 2 == d.size() || d[i + 2] == ',')) {
        data_ += static_cast<char>((hx[static_cast<unsigned char>(d[i])] << 4) |
                                   hx[static_cast<unsigned char>(d[i + 1])]);
        i += 3;
      }
      while (i < d.size()) {
        char c = d[i];
        if (isBlank(c) || c == ',') {
          ++i;
          continue;
        }
        if (c == '\\') {
          if (!trimRight(d.substr(i + 1)).empty()) return "text after the continuation backslash";
          more = true;
          break;
        }
        size_t s = i;
        while (i < d.size() && hx[static_cast<unsigned char>(d[i])] >= 0) ++i;
        size_t n = i - s;
        if (n == 0) return "not a hex digit: " + quoteForMessage(d.substr(s, 1));
        if (n != 2) {
          return (n % 2 ? "odd number of hex digits in " : "hex bytes not separated by commas: ") +
                 quoteForMessage(d.substr(s, n));
        }
        if (i < d.size() && !isBlank(d[i]) && d[i] != ',' && d[i] != '\\')
          return "not a hex digit: " + quoteForMessage(d.substr(i, 1));
        data_ += static_cast<char>((hx[static_cast<unsigned char>(d[s])] << 4) |
                                   hx[static_cast<unsigned char>(d[s + 1])]);
      }
      if (!more) return {};
      std::string_view next;
      if (!nextLine(next)) return "continuation backslash on the last line";
      d = trimRight(next);
    }
  }

  std::string_view text_;
  TextSink& sink_;
  size_t pos_ = 0;
  size_t lineNo_ = 0;
  Dialect dialect_ = Dialect::Regedit4;
  bool haveKey_ = false;
  bool keyRemoved_ = false;
  std::string name_;
  std::string text_buf_;
  std::string data_;
};

}  // namespace

bool looksLikeScript(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  size_t i = 0;
  while (i < bytes.size() && (isBlank(bytes[i]) || bytes[i] == '\r' || bytes[i] == '\n')) ++i;
  bytes.remove_prefix(i);
  return startsNoCase(bytes, kRegedit4Header) || startsNoCase(bytes, kVersion5Header);
}

std::optional<TextError> parseText(std::string_view text, TextSink& sink, Dialect* dialect) {
  Parser p(text, sink);
  return p.run(dialect);
}

// ---------------------------------------------------------------------------
// Writing: straight into the buffer, room for the worst case made first.

namespace {

char* putText(char* p, std::string_view s) {
  std::memcpy(p, s.data(), s.size());
  return p + s.size();
}

char* putEscaped(char* p, std::string_view s) {
  for (char c : s) {
    if (c == '\\' || c == '"') *p++ = '\\';
    *p++ = c;
  }
  return p;
}

// A REG_SZ that reads back the same from "..." form: one terminating NUL,
// no other NUL, no line break.
bool plainString(const Value& v) {
  if (v.type != 1 || v.data.empty() || v.data.back() != '\0') return false;
  const size_t n = v.data.size() - 1;
  for (size_t i = 0; i < n; ++i) {
    char c = v.data[i];
    if (static_cast<unsigned char>(c) <= '\r' && (c == '\0' || c == '\n' || c == '\r')) return false;
  }
  return true;
}

// Continuation lines as the registry editor writes them: about 80 columns.
constexpr size_t kHexLineWidth = 76;

}  // namespace

void writeValue(TextBuffer& out, const Value& v) {
  const size_t n = v.data.size();
  char* const start = out.tail(2 * v.name.size() + 3 * n + (n / 20 + 1) * 6 + 40);
  char* p = start;
  if (v.name.empty()) {
    *p++ = '@';
  } else {
    *p++ = '"';
    p = putEscaped(p, v.name);
    *p++ = '"';
  }
  *p++ = '=';
  if (plainString(v)) {
    *p++ = '"';
    p = putEscaped(p, v.data.substr(0, n - 1));
    p = putText(p, "\"\r\n");
    out.advance(static_cast<size_t>(p - start));
    return;
  }
  if (v.type == 4 && n == 4) {
    uint32_t d = 0;
    for (int i = 3; i >= 0; --i) d = (d << 8) | static_cast<unsigned char>(v.data[static_cast<size_t>(i)]);
    p = putText(p, "dword:");
    for (int k = 0; k < 8; ++k) *p++ = kHexDigits[(d >> (28 - 4 * k)) & 0xF];
    p = putText(p, "\r\n");
    out.advance(static_cast<size_t>(p - start));
    return;
  }
  if (v.type == 3) {
    p = putText(p, "hex:");
  } else {
    p = putText(p, "hex(");
    bool started = false;
    for (int s = 28; s >= 0; s -= 4) {
      unsigned digit = (v.type >> s) & 0xF;
      if (digit || started || s == 0) {
        *p++ = kHexDigits[digit];
        started = true;
      }
    }
    p = putText(p, "):");
  }
  size_t col = static_cast<size_t>(p - start);
  const auto* b = reinterpret_cast<const unsigned char*>(v.data.data());
  for (size_t i = 0; i < n; ++i) {
    *p++ = kHexDigits[b[i] >> 4];
    *p++ = kHexDigits[b[i] & 0xF];
    if (i + 1 == n) break;
    *p++ = ',';
    col += 3;
    if (col >= kHexLineWidth) {
      p = putText(p, "\\\r\n  ");
      col = 2;
    }
  }
  p = putText(p, "\r\n");
  out.advance(static_cast<size_t>(p - start));
}

void writeKey(TextBuffer& out, std::string_view path, const Key& key) {
  char* start = out.tail(path.size() + 8);
  char* p = start;
  *p++ = '[';
  p = putText(p, path);
  p = putText(p, "]\r\n");
  out.advance(static_cast<size_t>(p - start));
  for (size_t i = 0; i < key.valueCount(); ++i) writeValue(out, key.value(i));
  out.append("\r\n");
}

void writeTree(TextBuffer& out, std::string path, const Key& key, bool withSelf,
               const ChildrenOf& children) {
  // A stack of its own: the depth of a tree is whatever its file says.
  struct Frame {
    const Key* key;
    size_t next = 0;
    size_t pathLen;
    Subkeys kids;  // only with `children`
  };
  std::vector<Frame> stack;
  auto enter = [&](const Key& k) {
    Frame f{&k, 0, path.size(), {}};
    if (children) children(k, stack.size(), f.kids);
    stack.push_back(std::move(f));
  };
  if (withSelf || key.valueCount() > 0) writeKey(out, path, key);
  enter(key);
  while (!stack.empty()) {
    Frame& f = stack.back();
    const size_t count = children ? f.kids.size() : f.key->childCount();
    if (f.next == count) {
      path.resize(f.pathLen);
      stack.pop_back();
      continue;
    }
    std::string_view name;
    const Key* c;
    if (children) {
      name = f.kids[f.next].first;
      c = f.kids[f.next].second;
    } else {
      c = &f.key->child(f.next);
      name = c->name();
    }
    ++f.next;
    path.resize(f.pathLen);
    path += '\\';
    path += name;
    writeKey(out, path, *c);
    enter(*c);  // f may move now
  }
}

void hiveText(TextBuffer& out, const Key& top) {
  out.append(kRegedit4Header);
  out.append("\r\n\r\n");
  writeTree(out, std::string(top.name()), top, false);
}

std::string hiveText(const Key& top) {
  TextBuffer out;
  hiveText(out, top);
  return std::string(out.view());
}

// ---------------------------------------------------------------------------
// Loading a hive

namespace {

class HiveBuilder : public TextSink {
 public:
  HiveBuilder(std::string_view rootName, size_t sizeHint)
      : rootName_(rootName), hive_(Hive(rootName, sizeHint)) {}

  std::string key(size_t, std::string_view path, bool remove) override {
    if (remove) return "a deletion line does not belong in a hive file";
    if (!startsNoCase(path, rootName_) ||
        (path.size() > rootName_.size() && path[rootName_.size()] != '\\'))
      return "key outside " + rootName_ + ": " + quoteForMessage(path);
    // Hive files list keys depth first, so the previous key's path is
    // nearly always the parent: walk only what differs.
    std::string_view rest = path.substr(rootName_.size());
    size_t depth = 0;
    Key* k = &hive_->top();
    size_t i = 0;
    while (i < rest.size()) {
      if (rest[i] == '\\') {
        ++i;
        continue;
      }
      size_t e = rest.find('\\', i);
      if (e == std::string_view::npos) e = rest.size();
      std::string_view comp = rest.substr(i, e - i);
      i = e;
      if (depth < stack_.size() && stack_[depth].first == comp) {
        k = stack_[depth].second;
      } else {
        stack_.resize(depth);
        k = &k->addChild(comp);
        stack_.emplace_back(comp, k);
      }
      ++depth;
    }
    stack_.resize(depth);
    current_ = k;
    return {};
  }

  std::string value(size_t, std::string_view name, uint32_t type, std::string_view data) override {
    current_->setValue(name, type, data);
    return {};
  }

  std::string removeValue(size_t, std::string_view) override {
    return "a deletion line does not belong in a hive file";
  }

  Hive take() { return std::move(*hive_); }

 private:
  std::string rootName_;
  std::optional<Hive> hive_;
  Key* current_ = nullptr;
  // components of the previous key line (views into the hive text)
  std::vector<std::pair<std::string_view, Key*>> stack_;
};

}  // namespace

HiveLoad loadHive(std::string_view text, std::string_view rootName) {
  HiveBuilder b(rootName, text.size());
  Dialect d = Dialect::Regedit4;
  HiveLoad r;
  r.error = parseText(text, b, &d);
  if (!r.error && d != Dialect::Regedit4)
    r.error = TextError{1, "a hive file starts with " + std::string(kRegedit4Header)};
  if (!r.error) r.hive.emplace(b.take());
  return r;
}

}  // namespace platform::hive
