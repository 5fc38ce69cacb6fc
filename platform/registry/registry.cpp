#include "platform/registry/registry.h"

#include <cstring>
#include <fstream>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/registry/creg_file.h"
#include "platform/registry/hive_store.h"

namespace platform::reg {

using hive::HiveError;
using hive::HiveStore;
using hive::Key;
using hive::Root;

namespace {

std::optional<Root> predefined(HKEY k) {
  switch (k) {
    case HKEY_CLASSES_ROOT: return Root::ClassesRoot;
    case HKEY_CURRENT_USER: return Root::CurrentUser;
    case HKEY_LOCAL_MACHINE: return Root::LocalMachine;
    case HKEY_USERS: return Root::Users;
    default: return std::nullopt;
  }
}

// Key and value names that a registry script could not hold on one line.
bool badName(std::string_view s) {
  for (char c : s)
    if (c == '\0' || c == '\r' || c == '\n') return true;
  return false;
}

// A key path as a root and its components.
struct Target {
  Root root = Root::LocalMachine;
  std::vector<std::string> comps;
  std::vector<std::string_view> views() const { return {comps.begin(), comps.end()}; }
};

Key* walk(Key& top, const std::vector<std::string_view>& path) {
  Key* k = &top;
  for (auto c : path) {
    k = k->findChild(c);
    if (!k) return nullptr;
  }
  return k;
}

}  // namespace

struct Registry::Impl {
  explicit Impl(const Machine& m) : store(m) {}
  HiveStore store;
  std::mutex mu;
  std::map<HKEY, Target> handles;
  HKEY next = 0x1000;
  std::string lastError;

  // key + subKey as a root path; false for a handle that is not open or a
  // name a hive cannot hold.
  long target(HKEY key, std::string_view subKey, Target& t) {
    if (auto r = predefined(key)) {
      t.root = *r;
      t.comps.clear();
    } else {
      auto it = handles.find(key);
      if (it == handles.end()) return ERROR_INVALID_HANDLE;
      t = it->second;
    }
    for (auto c : hive::splitPath(subKey)) {
      if (badName(c)) return ERROR_INVALID_PARAMETER;
      t.comps.emplace_back(c);
    }
    return ERROR_SUCCESS;
  }

  HKEY open(Target t) {
    HKEY h = next;
    next += 4;
    handles.emplace(h, std::move(t));
    return h;
  }

  // The key for reading, nullptr when missing. Throws HiveError.
  Key* find(const Target& t) {
    auto views = t.views();
    hive::Place p = HiveStore::place(t.root, views, store.hasClassesDat());
    return walk(store.read(p.hive).top(), p.path);
  }

  long fail(const HiveError& e) {
    lastError = e.what();
    return ERROR_BADDB;
  }
  long fail(const Error& e) {
    lastError = e.what();
    return ERROR_ACCESS_DENIED;
  }
  // A change beyond what Windows 9x lets a key hold.
  long refuse(std::string why) {
    lastError = std::move(why);
    return ERROR_INVALID_PARAMETER;
  }

  // The subkey of k named c, made when missing (and allowed).
  long child(Key*& k, std::string_view c, bool& changed) {
    if (Key* n = k->findChild(c)) {
      k = n;
      return ERROR_SUCCESS;
    }
    if (std::string why = hive::keyNameFault(c); !why.empty()) return refuse(std::move(why));
    k = &k->addChild(c);
    changed = true;
    return ERROR_SUCCESS;
  }

  long set(Key& k, std::string_view name, uint32_t type, std::string_view data, bool& changed) {
    if (std::string why = hive::valueFault(k, name, data); !why.empty()) return refuse(std::move(why));
    k.setValue(name, type, data);
    changed = true;
    return ERROR_SUCCESS;
  }

  // Runs edit on the key's hive under the write lock and writes the hive
  // when edit reports a change.
  template <class F>
  long write(const Target& t, F&& edit) {
    try {
      HiveStore::Writer w(store);
      auto views = t.views();
      hive::Place p = HiveStore::place(t.root, views, store.hasClassesDat());
      hive::Hive& h = w.edit(p.hive);
      bool changed = false;
      long rc = edit(h.top(), p.path, changed);
      if (rc == ERROR_SUCCESS && changed) w.commit();
      return rc;
    } catch (const HiveError& e) {
      return fail(e);
    } catch (const Error& e) {
      return fail(e);
    }
  }
};

Registry::Registry(const Machine& m) : impl_(std::make_unique<Impl>(m)) {}
Registry::~Registry() = default;

std::string Registry::lastError() const {
  std::lock_guard g(impl_->mu);
  return impl_->lastError;
}

long Registry::RegOpenKeyEx(HKEY root, std::string_view subKey, uint32_t, HKEY* result) {
  std::lock_guard g(impl_->mu);
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = 0;
  Target t;
  if (long rc = impl_->target(root, subKey, t)) return rc;
  if (!(predefined(root) && t.comps.empty())) {
    try {
      if (!impl_->find(t)) return ERROR_FILE_NOT_FOUND;
    } catch (const HiveError& e) {
      return impl_->fail(e);
    }
  }
  *result = impl_->open(std::move(t));
  return ERROR_SUCCESS;
}

long Registry::RegCreateKey(HKEY root, std::string_view subKey, HKEY* result) {
  std::lock_guard g(impl_->mu);
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = 0;
  Target t;
  if (long rc = impl_->target(root, subKey, t)) return rc;
  // An existing key needs no write, and no lock.
  try {
    if (impl_->find(t)) {
      *result = impl_->open(std::move(t));
      return ERROR_SUCCESS;
    }
  } catch (const HiveError& e) {
    return impl_->fail(e);
  }
  long rc = impl_->write(t, [&](Key& top, const std::vector<std::string_view>& path, bool& changed) {
    Key* k = &top;
    for (auto c : path)
      if (long e = impl_->child(k, c, changed)) return e;
    return ERROR_SUCCESS;
  });
  if (rc == ERROR_SUCCESS) *result = impl_->open(std::move(t));
  return rc;
}

long Registry::RegCloseKey(HKEY key) {
  std::lock_guard g(impl_->mu);
  if (predefined(key)) return ERROR_SUCCESS;
  return impl_->handles.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

long Registry::RegEnumKeyEx(HKEY key, uint32_t index, std::string* name, uint32_t capacity) {
  std::lock_guard g(impl_->mu);
  if (!name) return ERROR_INVALID_PARAMETER;
  Target t;
  if (long rc = impl_->target(key, {}, t)) return rc;
  try {
    Key* k = impl_->find(t);
    if (!k) return predefined(key) ? ERROR_NO_MORE_ITEMS : ERROR_FILE_NOT_FOUND;
    if (index >= k->childCount()) return ERROR_NO_MORE_ITEMS;
    std::string_view n = k->child(index).name();
    if (n.size() + 1 > capacity) return ERROR_MORE_DATA;
    name->assign(n);
    return ERROR_SUCCESS;
  } catch (const HiveError& e) {
    return impl_->fail(e);
  }
}

long Registry::RegEnumValue(HKEY key, uint32_t index, std::string* name, uint32_t* type,
                            std::string* data) {
  std::lock_guard g(impl_->mu);
  Target t;
  if (long rc = impl_->target(key, {}, t)) return rc;
  try {
    Key* k = impl_->find(t);
    if (!k) return predefined(key) ? ERROR_NO_MORE_ITEMS : ERROR_FILE_NOT_FOUND;
    if (index >= k->valueCount()) return ERROR_NO_MORE_ITEMS;
    const hive::Value& v = k->value(index);
    if (name) name->assign(v.name);
    if (type) *type = v.type;
    if (data) data->assign(v.data);
    return ERROR_SUCCESS;
  } catch (const HiveError& e) {
    return impl_->fail(e);
  }
}

long Registry::RegQueryValueEx(HKEY key, std::string_view name, uint32_t* type, char* data,
                               uint32_t* size) {
  std::lock_guard g(impl_->mu);
  if (data && !size) return ERROR_INVALID_PARAMETER;
  Target t;
  if (long rc = impl_->target(key, {}, t)) return rc;
  try {
    Key* k = impl_->find(t);
    if (!k) return ERROR_FILE_NOT_FOUND;
    const hive::Value* v = k->findValue(name);
    if (!v) return ERROR_FILE_NOT_FOUND;
    if (type) *type = v->type;
    const auto needed = static_cast<uint32_t>(v->data.size());
    if (data) {
      if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
      }
      if (needed) std::memcpy(data, v->data.data(), needed);
    }
    if (size) *size = needed;
    return ERROR_SUCCESS;
  } catch (const HiveError& e) {
    return impl_->fail(e);
  }
}

long Registry::RegSetValueEx(HKEY key, std::string_view name, uint32_t type, std::string_view data) {
  std::lock_guard g(impl_->mu);
  if (badName(name)) return ERROR_INVALID_PARAMETER;
  Target t;
  if (long rc = impl_->target(key, {}, t)) return rc;
  bool isRoot = predefined(key).has_value();
  return impl_->write(t, [&](Key& top, const std::vector<std::string_view>& path, bool& changed) {
    Key* k = &top;
    for (auto c : path) {
      // A predefined root is there even before anything was written under it.
      if (isRoot) {
        if (long e = impl_->child(k, c, changed)) return e;
        continue;
      }
      k = k->findChild(c);
      if (!k) return ERROR_FILE_NOT_FOUND;
    }
    return impl_->set(*k, name, type, data, changed);
  });
}

long Registry::RegSetValue(HKEY key, std::string_view subKey, std::string_view text) {
  std::lock_guard g(impl_->mu);
  Target t;
  if (long rc = impl_->target(key, subKey, t)) return rc;
  std::string data(text);
  data += '\0';
  return impl_->write(t, [&](Key& top, const std::vector<std::string_view>& path, bool& changed) {
    Key* k = &top;
    for (auto c : path)
      if (long e = impl_->child(k, c, changed)) return e;
    return impl_->set(*k, {}, REG_SZ, data, changed);
  });
}

long Registry::RegDeleteValue(HKEY key, std::string_view name) {
  std::lock_guard g(impl_->mu);
  Target t;
  if (long rc = impl_->target(key, {}, t)) return rc;
  return impl_->write(t, [&](Key& top, const std::vector<std::string_view>& path, bool& changed) {
    Key* k = walk(top, path);
    if (!k || !k->removeValue(name)) return ERROR_FILE_NOT_FOUND;
    changed = true;
    return ERROR_SUCCESS;
  });
}

long Registry::RegDeleteKey(HKEY key, std::string_view subKey) {
  std::lock_guard g(impl_->mu);
  Target t;
  if (long rc = impl_->target(key, subKey, t)) return rc;
  if (t.comps.empty()) return ERROR_ACCESS_DENIED;  // a root is not deleted
  return impl_->write(t, [&](Key& top, const std::vector<std::string_view>& path, bool& changed) {
    // Software\Classes of a machine with Classes.dat is that hive's top.
    if (path.empty()) return ERROR_ACCESS_DENIED;
    Key* parent = walk(top, {path.begin(), path.end() - 1});
    if (!parent || !parent->removeChild(path.back())) return ERROR_FILE_NOT_FOUND;
    changed = true;
    return ERROR_SUCCESS;
  });
}

// ---------------------------------------------------------------------------
// Shell notifications: one line per announcement in the machine folder.

namespace {
fs::path notifyLog(const Machine& m) { return m.root() / "shell-notify.log"; }

std::string eventText(long eventId) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%08lx", static_cast<unsigned long>(eventId));
  return buf;
}
}  // namespace

void SHChangeNotify(const Machine& m, long eventId, unsigned flags) {
  std::string line = "SHChangeNotify " + eventText(eventId) + " " + std::to_string(flags) + "\n";
  int fd = open(notifyLog(m).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return;  // the shell's announcement has no result to report
  ssize_t n = ::write(fd, line.data(), line.size());
  (void)n;
  close(fd);
}

long changeNotifyCount(const Machine& m, long eventId) {
  std::ifstream in(notifyLog(m));
  std::string prefix = "SHChangeNotify " + eventText(eventId) + " ";
  long n = 0;
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) ++n;
  return n;
}

}  // namespace platform::reg
