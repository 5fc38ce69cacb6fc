#include "platform/image_files.h"

#include "platform/dos_pattern.h"
#include "platform/error.h"
#include "platform/hostfs.h"
#include "platform/text.h"
#include "platform/winpath.h"

namespace platform::imagefs {

namespace {

std::string joinParts(const std::vector<std::string>& parts, size_t n) {
  std::string rel;
  for (size_t i = 0; i < n; ++i) {
    if (i) rel += '\\';
    rel += parts[i];
  }
  return rel;
}

std::string parentOf(const std::string& rel) {
  size_t i = rel.rfind('\\');
  return i == std::string::npos ? std::string() : rel.substr(0, i);
}

std::string nameOf(const std::string& rel) {
  size_t i = rel.rfind('\\');
  return i == std::string::npos ? rel : rel.substr(i + 1);
}

Place child(const Place& folder, const std::string& name) {
  Place c = folder;
  c.rel = folder.rel.empty() ? name : folder.rel + "\\" + name;
  c.parts = folder.parts + 1;
  c.shown = winJoin(folder.shown, name);
  return c;
}

}  // namespace

Place place(const Machine& m, std::string_view winPath) {
  Place p;
  bool trailing = false;
  std::vector<std::string> parts = winpath::split(winPath, &p.drive, &trailing);
  p.volume = m.volume(p.drive);
  if (!p.volume) throw Error(kPathNotFound, std::string(winPath));
  p.volumeRoot = std::string(1, p.drive) + ":";
  p.parts = parts.size();
  p.rel = joinParts(parts, parts.size());
  p.shown = std::string(winPath);
  return p;
}

void rethrowNamed(const Error& e, const Place& p, const Place* other) {
  for (const Place* q : {&p, other}) {
    if (q && e.detail() == volume::shown(q->root(), q->rel)) throw Error(e.number(), e.description(), q->shown);
  }
  throw e;
}

std::optional<FileEntry> find(const Place& p) {
  try {
    std::vector<FileEntry> found = p.volume->peek(p.rel);
    if (found.size() != p.parts) return std::nullopt;
    if (found.empty()) return folderEntry();
    return found.back();
  } catch (const Error& e) {
    if (e.number() == kDiskNotReady) rethrowNamed(e, p);
    return std::nullopt;
  }
}

FileEntry existing(const Place& p) {
  auto entries = named(p, [&] { return p.volume->peek(p.rel); });
  if (p.parts == 0) return folderEntry();
  if (entries.size() == p.parts) return entries.back();
  if (entries.size() + 1 == p.parts && (entries.empty() || entries.back().isFolder()))
    throw Error(kFileNotFound, p.shown);
  throw Error(kPathNotFound, p.shown);
}

std::string readFile(const Place& p) {
  if (existing(p).isFolder()) throw Error(kPathFileAccess, p.shown);
  return named(p, [&] { return p.volume->readAll(p.rel); });
}

void readFileInPieces(const Place& p, size_t piece, const std::function<void(std::string_view)>& take) {
  if (existing(p).isFolder()) throw Error(kPathFileAccess, p.shown);
  auto reader = named(p, [&] { return p.volume->open(p.rel); });
  std::string buf(piece > 0 ? piece : 1, '\0');
  for (uint64_t at = 0; at < reader->size();) {
    size_t n = reader->readAt(at, buf.data(), buf.size());
    if (n == 0) break;
    take(std::string_view(buf.data(), n));
    at += n;
  }
}

void replace(const Place& p, uint8_t attributes, bool replaceReadOnly,
             const std::function<void(const PutBytes& put)>& produce) {
  auto old = find(p);
  if (old && old->isFolder()) throw Error(kPathFileAccess, p.shown);
  bool unlocked = false;
  NewFile file{attributes, std::nullopt};
  if (old && (old->attributes & kReadOnly) && replaceReadOnly && p.volume->replacesReadOnly()) {
    file.replaceReadOnly = true;
  } else if (old && (old->attributes & kReadOnly)) {
    if (!replaceReadOnly) throw Error(kPathFileAccess, p.shown);
    // Windows rewrites its hives whatever the flag says; the flag is given
    // back below or by the attributes the new file gets.
    named(p, [&] { p.volume->setAttributes(p.rel, old->attributes & static_cast<uint8_t>(~kReadOnly)); });
    unlocked = true;
  }
  try {
    named(p, [&] {
      auto w = p.volume->create(p.rel, file);
      produce([&](std::string_view s) { w->write(s); });
      w->commit();
    });
  } catch (...) {
    if (unlocked) {
      try {
        p.volume->setAttributes(p.rel, old->attributes);
      } catch (const Error&) {
      }
    }
    throw;
  }
}

void deleteFile(const Place& p) {
  std::string name = nameOf(p.rel);
  if (!hostfs::isWildcard(name)) {
    if (existing(p).isFolder()) throw Error(kPathFileAccess, p.shown);
    named(p, [&] { p.volume->remove(p.rel); });
    return;
  }
  Place folder = p;
  folder.rel = parentOf(p.rel);
  folder.parts = p.parts - 1;
  auto f = find(folder);
  if (!f || !f->isFolder()) throw Error(kPathNotFound, p.shown);
  std::vector<std::string> names;
  for (const FileEntry& e : p.volume->list(folder.rel)) {
    if (e.isFolder() || !hostfs::maskAdmits(e.attributes, kReadOnly | kArchive)) continue;
    if (dosPatternMatches(name, e.name) || dosPatternMatches(name, e.shortName)) names.push_back(e.name);
  }
  if (names.empty()) throw Error(kFileNotFound, p.shown);
  hostfs::sortNames(names);
  for (const std::string& n : names) {
    Place one = child(folder, n);
    one.shown = p.shown;
    named(one, [&] { p.volume->remove(one.rel); });
  }
}

void renameFile(const Place& from, const Place& to) {
  if (from.drive != to.drive) throw Error(hostfs::kRenameAcrossDrives, to.shown);
  if (from.parts == 0) throw Error(kPathFileAccess, from.shown);
  existing(from);
  named(from, [&] { from.volume->rename(from.rel, to.rel, false); }, &to);
}

void makeFolder(const Place& p) {
  auto entries = named(p, [&] { return p.volume->peek(p.rel); });
  std::vector<std::string> parts = volume::split(p.rel, p.shown);
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i < entries.size()) {
      if (!entries[i].isFolder()) throw Error(kPathFileAccess, p.shown);
      continue;
    }
    Place made = p;
    made.rel = joinParts(parts, i + 1);
    named(made, [&] { p.volume->makeFolder(made.rel); });
  }
}

void removeTree(const Place& p) {
  auto e = find(p);
  if (!e) throw Error(kPathNotFound, p.shown);
  named(p, [&] { p.volume->removeTree(p.rel); });
}

std::vector<std::string> dir(const Place& p, uint8_t mask) {
  std::string name = nameOf(p.rel);
  std::vector<std::string> out;
  bool lastIsPattern = p.shown.ends_with("\\") || p.shown.ends_with("/") || hostfs::isWildcard(name);
  if (!lastIsPattern) {
    if (p.parts == 0) return out;
    auto e = find(p);
    if (e && hostfs::maskAdmits(e->attributes, mask)) out.push_back(e->name);
    return out;
  }
  Place folder = p;
  if (!p.shown.ends_with("\\") && !p.shown.ends_with("/")) {
    folder.rel = parentOf(p.rel);
    folder.parts = p.parts - 1;
  } else {
    name.assign(1, '*');
  }
  auto f = find(folder);
  if (!f || !f->isFolder()) return out;
  for (const FileEntry& e : p.volume->list(folder.rel)) {
    if (!hostfs::maskAdmits(e.attributes, mask)) continue;
    if (dosPatternMatches(name, e.name) || dosPatternMatches(name, e.shortName)) out.push_back(e.name);
  }
  hostfs::sortNames(out);
  return out;
}

}  // namespace platform::imagefs
