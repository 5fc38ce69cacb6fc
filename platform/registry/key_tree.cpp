#include "platform/registry/key_tree.h"

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

Hive::Hive(std::string_view topName, size_t sizeHint) {
  // A hive's tree takes about twice the room of its text.
  size_t initial = std::max<size_t>(sizeHint * 2, 16 << 10);
  arena_ = std::make_unique<Arena>(initial);
  char* name = static_cast<char*>(arena_->allocate(topName.size() ? topName.size() : 1, 1));
  std::memcpy(name, topName.data(), topName.size());
  void* k = arena_->allocate(sizeof(Key), alignof(Key));
  top_ = new (k) Key(std::string_view(name, topName.size()), arena_.get());
}

std::string_view Hive::keep(std::string bytes) {
  kept_.push_back(std::make_unique<std::string>(std::move(bytes)));
  return *kept_.back();
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
  return appendChild(copy(name));
}

Key& Key::appendChild(std::string_view name) {
  void* p = mr()->allocate(sizeof(Key), alignof(Key));
  Key* k = new (p) Key(name, mr());
  children_.push_back(k);
  if (index_ && !index_->children.empty()) index_->children.emplace(k->name_, k);
  return *k;
}

void Key::dropIndex() {
  // Positions moved, and of two keys of one name the first must win again:
  // rebuilt on the next lookup.
  if (index_) {
    index_->children.clear();
    index_->values.clear();
  }
}

void Key::removeChildAt(size_t i) {
  children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(i));
  dropIndex();
}

bool Key::removeChild(std::string_view name) {
  for (size_t i = 0; i < children_.size(); ++i) {
    if (sameName(children_[i]->name_, name)) {
      removeChildAt(i);
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
    valueBytes_ -= w->data.size();
    w->type = type;
    w->data = copy(data);
    valueBytes_ += data.size();
    return;
  }
  // The arena keeps what a vector outgrows: start with room for a few.
  if (values_.empty()) values_.reserve(8);
  appendValue(copy(name), type, copy(data));
}

void Key::appendValue(std::string_view name, uint32_t type, std::string_view data) {
  values_.push_back(Value{name, type, data});
  valueBytes_ += name.size() + data.size();
  if (index_ && !index_->values.empty()) index_->values.emplace(values_.back().name, values_.size() - 1);
}

bool Key::removeValue(std::string_view name) {
  for (size_t i = 0; i < values_.size(); ++i) {
    if (sameName(values_[i].name, name)) {
      valueBytes_ -= values_[i].name.size() + values_[i].data.size();
      values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(i));
      dropIndex();
      return true;
    }
  }
  return false;
}

}  // namespace platform::hive
