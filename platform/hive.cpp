#include "platform/hive.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include <sys/mman.h>

#include "platform/text.h"

namespace platform::hive {

namespace {

// Case folding as a table: names are compared on every lookup of every load.
struct FoldTable {
  std::array<unsigned char, 256> lower{};
  FoldTable() {
    for (int c = 0; c < 256; ++c)
      lower[c] = static_cast<unsigned char>(lowerAnsi(static_cast<char>(c)));
  }
};
const FoldTable& fold() {
  static const FoldTable t;
  return t;
}

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

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const auto& f = fold().lower;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] &&
        f[static_cast<unsigned char>(a[i])] != f[static_cast<unsigned char>(b[i])])
      return false;
  return true;
}

// ---------------------------------------------------------------------------
// Memory

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

size_t roundToHuge(size_t n) { return (n + kHugePage - 1) & ~(kHugePage - 1); }

// Below this the ordinary heap is quicker than fresh pages.
constexpr size_t kBigFrom = size_t{1} << 20;

}  // namespace

Arena::Arena(size_t first) { grow(first); }

Arena::~Arena() {
  for (auto& b : blocks_) {
    if (b.mapped)
      munmap(b.p, b.size);
    else
      ::operator delete(b.p);
  }
}

void Arena::grow(size_t atLeast) {
  Block b{nullptr, atLeast, false};
  if (blocks_.empty() && atLeast < kBigFrom) {
    b.p = ::operator new(atLeast);
    next_ = kHugePage;  // a small hive that grows goes straight to big blocks
  } else {
    b.size = roundToHuge(std::max(atLeast, next_));
    b.p = mmap(nullptr, b.size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (b.p == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    madvise(b.p, b.size, MADV_HUGEPAGE);
#endif
    b.mapped = true;
    next_ = std::max(b.size, kHugePage) * 2;
  }
  blocks_.push_back(b);
  cur_ = reinterpret_cast<uintptr_t>(b.p);
  end_ = cur_ + b.size;
}

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

Hive::Hive(std::string_view topName, size_t sizeHint) {
  // A hive's tree takes about twice the room of its text.
  size_t initial = std::max<size_t>(sizeHint * 2, 16 << 10);
  arena_ = std::make_unique<Arena>(initial);
  char* name = static_cast<char*>(arena_->allocate(topName.size() ? topName.size() : 1, 1));
  std::memcpy(name, topName.data(), topName.size());
  void* k = arena_->allocate(sizeof(Key), alignof(Key));
  top_ = new (k) Key(std::string_view(name, topName.size()), arena_.get());
}

// ---------------------------------------------------------------------------
// Keys

size_t Key::FoldHash::operator()(std::string_view s) const {
  const auto& f = fold().lower;
  uint64_t h = 1469598103934665603ull;
  for (char c : s) {
    h ^= f[static_cast<unsigned char>(c)];
    h *= 1099511628211ull;
  }
  return static_cast<size_t>(h);
}

Key::Key(std::string_view name, std::pmr::memory_resource* mr)
    : name_(name), children_(mr), values_(mr) {}

std::string_view Key::copy(std::string_view s) const {
  if (s.empty()) return {};
  char* p = static_cast<char*>(mr()->allocate(s.size(), 1));
  std::memcpy(p, s.data(), s.size());
  return {p, s.size()};
}

Key::Index& Key::index() const {
  if (!index_) {
    void* p = mr()->allocate(sizeof(Index), alignof(Index));
    index_ = new (p) Index(mr());
  }
  Index& ix = *index_;
  if (ix.children.empty() && children_.size() >= kIndexFrom) {
    ix.children.reserve(children_.size() * 2);
    for (Key* c : children_) ix.children.emplace(c->name_, c);
  }
  if (ix.values.empty() && values_.size() >= kIndexFrom) {
    ix.values.reserve(values_.size() * 2);
    for (size_t i = 0; i < values_.size(); ++i) ix.values.emplace(values_[i].name, i);
  }
  return ix;
}

Key* Key::findChild(std::string_view name) const {
  if (children_.size() < kIndexFrom) {
    for (Key* c : children_)
      if (sameName(c->name_, name)) return c;
    return nullptr;
  }
  auto& m = index().children;
  auto it = m.find(name);
  return it == m.end() ? nullptr : it->second;
}

Key& Key::addChild(std::string_view name) {
  if (Key* k = findChild(name)) return *k;
  void* p = mr()->allocate(sizeof(Key), alignof(Key));
  Key* k = new (p) Key(copy(name), mr());
  children_.push_back(k);
  if (index_ && !index_->children.empty()) index_->children.emplace(k->name_, k);
  return *k;
}

bool Key::removeChild(std::string_view name) {
  for (size_t i = 0; i < children_.size(); ++i) {
    if (sameName(children_[i]->name_, name)) {
      if (index_) index_->children.erase(children_[i]->name_);
      children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

const Value* Key::findValue(std::string_view name) const {
  if (values_.size() < kIndexFrom) {
    for (const auto& v : values_)
      if (sameName(v.name, name)) return &v;
    return nullptr;
  }
  auto& m = index().values;
  auto it = m.find(name);
  return it == m.end() ? nullptr : &values_[it->second];
}

void Key::setValue(std::string_view name, uint32_t type, std::string_view data) {
  if (const Value* v = findValue(name)) {
    auto* w = const_cast<Value*>(v);
    w->type = type;
    w->data = copy(data);
    return;
  }
  // The arena keeps what a vector outgrows: start with room for a few.
  if (values_.empty()) values_.reserve(8);
  values_.push_back(Value{copy(name), type, copy(data)});
  if (index_ && !index_->values.empty()) index_->values.emplace(values_.back().name, values_.size() - 1);
}

bool Key::removeValue(std::string_view name) {
  for (size_t i = 0; i < values_.size(); ++i) {
    if (sameName(values_[i].name, name)) {
      values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(i));
      if (index_) index_->values.clear();  // positions moved; rebuilt on the next lookup
      return true;
    }
  }
  return false;
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
    while (i < t.size() && t[i] != '"' && t[i] != '\\') ++i;
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

void writeTree(TextBuffer& out, std::string& path, const Key& key, bool withSelf) {
  if (withSelf || key.valueCount() > 0) writeKey(out, path, key);
  for (size_t i = 0; i < key.childCount(); ++i) {
    const Key& c = key.child(i);
    size_t len = path.size();
    path += '\\';
    path += c.name();
    writeTree(out, path, c, true);
    path.resize(len);
  }
}

void hiveText(TextBuffer& out, const Key& top) {
  out.append(kRegedit4Header);
  out.append("\r\n\r\n");
  std::string path(top.name());
  writeTree(out, path, top, false);
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
