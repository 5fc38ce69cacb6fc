#include "platform/fileset.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <optional>
#include <set>

#include "platform/error.h"
#include "platform/file_streams.h"
#include "platform/hostfs.h"
#include "platform/host_volume.h"
#include "platform/image_files.h"
#include "platform/temporaries.h"
#include "platform/text.h"

namespace platform {

using hostfs::failErrno;
using hostfs::writeAll;

namespace {

std::vector<std::string> nameParts(std::string_view name) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = name.size();
    parts.emplace_back(name.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string readHostFile(const fs::path& p) {
  std::string out;
  int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) failErrno(errno, p.string());
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return out;
}

void removeHostTree(const fs::path& p) {
  hostfs::makeTreeWritable(p);
  std::error_code ec;
  fs::remove_all(p, ec);
}

}  // namespace

// The set's writers on the folder's volume, committed as one set (per
// folder where the volume cannot reach into subfolders).
struct FileSet::Impl {
  imagefs::Place folder;
  const Machine* m = nullptr;
  std::unique_ptr<HostVolume> own;  // the volume of a host folder without a machine
  bool replaceReadOnly = false;
  struct Entry {
    std::string path;       // as the caller names it
    imagefs::Place place;   // the file on the volume
    std::string parent;     // its folder below the volume's root
    uint64_t size = 0;
    std::optional<FileEntry> old;
    bool remove = false;
    bool unlocked = false;  // its read-only flag taken off for the writer
    std::unique_ptr<FileWriter> writer;
  };
  std::vector<Entry> files;
  bool committed = false;

  Entry& at(size_t i) {
    if (i >= files.size()) throw Error(kInvalidCall, folder.shown);
    return files[i];
  }

  // hostForm: the caller names paths as host paths ("dir/name").
  void check(std::vector<File> list, bool hostForm) {
    auto f = imagefs::find(folder);
    if (!f || !f->isFolder()) throw Error(kPathNotFound, folder.shown);
    std::set<std::string> seen;
    uint64_t adding = 0, freeing = 0;
    for (File& file : list) {
      Entry e;
      if (hostForm) {
        const std::string& d = folder.shown;
        e.path = d + (d.empty() || d.back() == '/' ? "" : "/") + file.name;
      } else {
        e.path = winJoin(folder.shown, file.name);
      }
      e.size = file.size;
      std::vector<std::string> parts = nameParts(file.name);
      std::string key, rel;
      for (const std::string& part : parts) {
        if (!fileNameProblem(part).empty()) throw Error(kBadFileNameSyntax, e.path);
        key += upperAnsi(part) + "\\";
        if (!rel.empty()) rel += '\\';
        rel += part;
      }
      if (!seen.insert(key).second) throw Error(kFileAlreadyExists, e.path);
      e.parent = folder.rel;
      if (size_t cut = rel.rfind('\\'); cut != std::string::npos) {
        e.parent = folder.rel.empty() ? rel.substr(0, cut) : folder.rel + "\\" + rel.substr(0, cut);
      }
      e.place = folder;
      e.place.rel = folder.rel.empty() ? rel : folder.rel + "\\" + rel;
      e.place.parts = folder.parts + parts.size();
      e.place.shown = e.path;
      auto entries = imagefs::named(e.place, [&] { return folder.volume->peek(e.place.rel); });
      for (size_t i = 0; i + 1 < entries.size(); ++i)
        if (!entries[i].isFolder()) throw Error(kPathFileAccess, e.path);
      if (entries.size() == e.place.parts) {
        e.old = entries.back();
        if (e.old->isFolder()) throw Error(kPathFileAccess, e.path);
        if ((e.old->attributes & kReadOnly) && !replaceReadOnly) throw Error(kPathFileAccess, e.path);
        freeing += e.old->size;
      }
      adding += e.size;
      files.push_back(std::move(e));
    }
    imagefs::named(folder, [&] {
      if (folder.volume->writeProtected()) throw Error(kPermissionDenied, folder.shown);
      if (adding > freeing && folder.volume->space().freeBytes < adding - freeing)
        throw Error(kDiskFull, folder.shown);
    });
  }

  ~Impl() {
    files.clear();  // the writers go first
  }

  void relock() {
    for (Entry& e : files) {
      if (!e.unlocked) continue;
      try {
        folder.volume->setAttributes(e.place.rel, e.old->attributes);
      } catch (const Error&) {
      }
      e.unlocked = false;
    }
  }

  FileWriter& writer(size_t i) {
    Entry& e = at(i);
    if (!e.writer) {
      e.remove = false;
      NewFile file;
      if (e.old && (e.old->attributes & kReadOnly) && folder.volume->replacesReadOnly()) {
        file.replaceReadOnly = true;  // replaced in the commit's one step
      } else if (e.old && (e.old->attributes & kReadOnly) && !e.unlocked) {
        // The working copies the program replaces whatever their flag says;
        // the flag comes back if the set is dropped.
        imagefs::named(e.place, [&] {
          folder.volume->setAttributes(e.place.rel, e.old->attributes & static_cast<uint8_t>(~kReadOnly));
        });
        e.unlocked = true;
      }
      if (e.parent != folder.rel) {
        // A subfolder the set's file goes into.
        imagefs::Place p = folder;
        p.rel = e.parent;
        p.parts = static_cast<size_t>(std::count(e.parent.begin(), e.parent.end(), '\\')) + 1;
        p.shown = e.path;
        imagefs::makeFolder(p);
      }
      e.writer = imagefs::named(e.place, [&] { return folder.volume->create(e.place.rel, file); });
    }
    return *e.writer;
  }

  void commit() {
    for (Entry& e : files)
      if (!e.remove && !e.writer) throw Error(kInvalidCall, e.path);
    std::vector<std::string> removed;
    for (Entry& e : files)
      if (e.remove && e.old) removed.push_back(e.place.rel);
    Volume& v = *folder.volume;
    auto named = [&](auto&& f) {
      try {
        f();
      } catch (const Error& err) {
        for (Entry& e : files) {
          if (err.detail() == volume::shown(folder.root(), e.place.rel)) throw Error(err.number(), err.description(), e.path);
        }
        imagefs::rethrowNamed(err, folder);
      }
    };
    if (v.setsSpanSubfolders()) {
      std::vector<FileWriter*> all;
      for (Entry& e : files)
        if (!e.remove) all.push_back(e.writer.get());
      named([&] { v.commitSetAndRemove(all, removed); });
    } else {
      std::map<std::string, std::vector<FileWriter*>> byFolder;
      for (Entry& e : files)
        if (!e.remove) byFolder[upperAnsi(e.parent)].push_back(e.writer.get());
      named([&] {
        for (auto& [name, writers] : byFolder) v.commitSet(writers);
      });
      committed = true;
      named([&] { v.commitSetAndRemove({}, removed); });
    }
    committed = true;
  }
};

FileSet::FileSet(const Machine& m, std::string_view folder, std::vector<File> files, bool replaceReadOnly)
    : impl_(std::make_unique<Impl>()) {
  std::string name(folder);
  while (name.size() > 3 && (name.back() == '\\' || name.back() == '/')) name.pop_back();
  impl_->folder = imagefs::place(m, name);
  impl_->m = &m;
  impl_->replaceReadOnly = replaceReadOnly;
  impl_->check(std::move(files), false);
}

FileSet::FileSet(const fs::path& hostFolder, std::vector<File> files) : impl_(std::make_unique<Impl>()) {
  std::string shown = utf8ToAnsi(hostFolder.string());
  fs::path host = fs::absolute(hostFolder).lexically_normal();
  if (host.filename().empty()) host = host.parent_path();  // "dir/" is dir
  HostVolumeOptions options;
  options.root = shown;
  impl_->own = std::make_unique<HostVolume>(host, options);
  impl_->folder.volume = impl_->own.get();
  impl_->folder.volumeRoot = shown;
  impl_->folder.shown = shown;
  struct stat st;
  if (::stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) throw Error(kPathNotFound, shown);
  impl_->check(std::move(files), true);
}

FileSet::~FileSet() {
  if (!impl_->committed) {
    for (Impl::Entry& e : impl_->files) e.writer.reset();
    impl_->relock();
  }
}

size_t FileSet::size() const { return impl_->files.size(); }

const std::string& FileSet::path(size_t i) const { return impl_->at(i).path; }

bool FileSet::exists(size_t i) const { return impl_->at(i).old.has_value(); }

int FileSet::create(size_t i) {
  Impl::Entry& e = impl_->at(i);
  e.writer.reset();
  int fd = HostVolume::duplicateOf(impl_->writer(i));
  if (fd < 0) throw Error(kInvalidCall, e.path);
  return fd;
}

void FileSet::write(size_t i, std::string_view bytes) {
  Impl::Entry& e = impl_->at(i);
  FileWriter& w = impl_->writer(i);
  imagefs::named(e.place, [&] { w.write(bytes); });
}

void FileSet::setInfo(size_t i, const DateTime& t, uint8_t attributes) {
  impl_->writer(i).describe(NewFile{attributes, t});
}

void FileSet::copyFrom(size_t i, std::string_view from) {
  if (!impl_->m) throw Error(kInvalidCall, std::string(from));
  const Machine& m = *impl_->m;
  Impl::Entry& e = impl_->at(i);
  auto in = openFile(m, from);
  e.writer.reset();
  FileWriter& w = impl_->writer(i);
  if (!HostVolume::copyBetween(*in, w)) {
    std::string buf(1 << 16, '\0');
    for (uint64_t at = 0; at < in->size();) {
      size_t n = in->readAt(at, buf.data(), buf.size());
      if (n == 0) break;
      imagefs::named(e.place, [&] { w.write(std::string_view(buf.data(), n)); });
      at += n;
    }
  }
  e.size = in->size();
  setInfo(i, lastModified(m, from), getAttributes(m, from));
}

void FileSet::remove(size_t i) {
  Impl::Entry& e = impl_->at(i);
  e.writer.reset();
  e.remove = true;
}

void FileSet::commit() {
  try {
    impl_->commit();
  } catch (...) {
    // Nothing of a failed set stays behind.
    for (Impl::Entry& e : impl_->files) e.writer.reset();
    impl_->relock();
    throw;
  }
}

// --- helpers on the set ---------------------------------------------------------

void copyFilesAsSet(const Machine& m, std::string_view folder,
                    const std::vector<std::pair<std::string, std::string>>& fromAndName) {
  std::vector<FileSet::File> files;
  for (const auto& [from, name] : fromAndName) files.push_back({name, fileSize(m, from)});
  FileSet set(m, folder, std::move(files), /*replaceReadOnly=*/true);
  for (size_t i = 0; i < fromAndName.size(); ++i) set.copyFrom(i, fromAndName[i].first);
  set.commit();
}

FolderSnapshot::FolderSnapshot(const Machine& m, std::string_view folder, std::vector<std::string> names)
    : m_(m), folder_(folder), names_(std::move(names)) {
  // Kept on the host: what the files held, byte for byte.
  auto f = imagefs::find(imagefs::place(m, folder_));
  if (!f || !f->isFolder()) throw Error(kPathNotFound, folder_);
  keep_ = fs::temp_directory_path() / temporaries::newName();
  if (::mkdir(keep_.c_str(), 0700) != 0) failErrno(errno, folder_);
  try {
    for (size_t i = 0; i < names_.size(); ++i) {
      std::string path = winJoin(folder_, names_[i]);
      auto e = imagefs::find(imagefs::place(m, path));
      bool kept = e && !e->isFolder();
      if (kept) {
        int fd = ::open((keep_ / std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) failErrno(errno, path);
        try {
          readFileInPieces(m, path, 1 << 16, [&](std::string_view s) { writeAll(fd, s, path); });
        } catch (...) {
          ::close(fd);
          throw;
        }
        ::close(fd);
      }
      kept_.push_back(kept);
      keptEntries_.push_back(kept ? *e : FileEntry{});
    }
  } catch (...) {
    removeHostTree(keep_);
    throw;
  }
}

FolderSnapshot::~FolderSnapshot() { removeHostTree(keep_); }

bool FolderSnapshot::unchanged(const std::string& name) const {
  for (size_t i = 0; i < names_.size(); ++i) {
    if (!equalsNoCase(names_[i], name)) continue;
    std::string path = winJoin(folder_, name);
    std::optional<FileEntry> now;
    try {
      now = imagefs::find(imagefs::place(m_, path));
    } catch (const Error&) {
      return false;
    }
    if (!kept_[i]) return !now;
    const FileEntry& then = keptEntries_[i];
    if (!now || now->isFolder() || now->size != then.size) return false;
    // Replaced by the same bytes is replaced; new attributes alone are not.
    if (now->id != 0 || then.id != 0) return now->id == then.id;
    if (now->attributes != then.attributes) return false;
    try {
      return readFile(m_, path) == readHostFile(keep_ / std::to_string(i));
    } catch (const Error&) {
      return false;
    }
  }
  return false;
}

void FolderSnapshot::restore() {
  std::vector<FileSet::File> files;
  for (size_t i = 0; i < names_.size(); ++i) files.push_back({names_[i], kept_[i] ? keptEntries_[i].size : 0});
  FileSet set(m_, folder_, std::move(files), /*replaceReadOnly=*/true);
  for (size_t i = 0; i < names_.size(); ++i) {
    if (!kept_[i]) {
      set.remove(i);
      continue;
    }
    set.write(i, readHostFile(keep_ / std::to_string(i)));
    set.setInfo(i, keptEntries_[i].modified, keptEntries_[i].attributes);
  }
  set.commit();
  // What went back is the kept file again, as a link would be on a host.
  for (size_t i = 0; i < names_.size(); ++i) {
    if (!kept_[i]) continue;
    auto now = imagefs::find(imagefs::place(m_, winJoin(folder_, names_[i])));
    if (now) keptEntries_[i] = *now;
  }
}

}  // namespace platform
