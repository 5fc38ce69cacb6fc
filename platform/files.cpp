#include "platform/files.h"

#include <cstring>

#include "platform/error.h"
#include "platform/file_streams.h"
#include "platform/hostfs.h"
#include "platform/host_volume.h"
#include "platform/image_files.h"
#include "platform/lines.h"
#include "platform/temporaries.h"
#include "platform/text.h"

namespace platform {

using hostfs::str;

// --- names ----------------------------------------------------------------------

std::string deviceNameOf(std::string_view name) {
  // What comes before the first dot counts, blanks before the dot too.
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  std::string up = upperAnsi(std::string(stem));
  if (up == "CON" || up == "PRN" || up == "AUX" || up == "NUL") return up;
  bool port = up.size() == 4 && (up.starts_with("COM") || up.starts_with("LPT")) && up[3] >= '1' && up[3] <= '9';
  return port ? up : std::string();
}

std::string fileNameProblem(std::string_view name) {
  if (name.empty()) return "it is empty";
  if (name.size() > 255) return "it is longer than 255 characters";
  for (char ch : name) {
    if (static_cast<unsigned char>(ch) < 0x20) return "it holds a control character";
    if (std::strchr("\\/:*?\"<>|", ch)) return std::string("it holds the character ") + ch;
  }
  if (name == "." || name == "..") return "it names a folder, not a file";
  if (name.back() == '.' || name.back() == ' ') return "it ends with a dot or a blank, which Windows drops";
  if (std::string device = deviceNameOf(name); !device.empty()) return "it is the name of the device " + device;
  return {};
}

// --- DateTime -------------------------------------------------------------------

DateTime DateTime::fromTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

DateTime DateTime::now() { return fromTime(std::time(nullptr)); }

std::time_t DateTime::toTime() const {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

// --- existence --------------------------------------------------------------------

namespace {
// What the drive holds at path; nullopt also for no disk, no such drive or
// a path that is not there.
std::optional<FileEntry> entryAt(const Machine& m, std::string_view path) {
  try {
    return imagefs::find(imagefs::place(m, path));
  } catch (const Error&) {
    return std::nullopt;
  }
}
}  // namespace

bool fileExists(const Machine& m, std::string_view path) {
  auto e = entryAt(m, path);
  return e && !e->isFolder();
}

bool folderExists(const Machine& m, std::string_view path) {
  auto e = entryAt(m, path);
  return e && e->isFolder();
}

bool pathExists(const Machine& m, std::string_view path) { return entryAt(m, path).has_value(); }

// --- reading -----------------------------------------------------------------------

void readFileInPieces(const Machine& m, std::string_view path, size_t piece,
                      const std::function<void(std::string_view)>& take) {
  imagefs::readFileInPieces(imagefs::place(m, path), piece, take);
}

std::string readFile(const Machine& m, std::string_view path) { return imagefs::readFile(imagefs::place(m, path)); }

std::vector<std::string> readLines(const Machine& m, std::string_view path) {
  return splitLines(readFile(m, path));
}

// --- writing -----------------------------------------------------------------------

namespace {

// The classic Open For Output (truncating) or For Append.
void writeInPlace(const Machine& m, std::string_view path, std::string_view bytes, bool append) {
  imagefs::Place p = imagefs::place(m, path);
  if (p.parts == 0) throw Error(kPathFileAccess, str(path));
  imagefs::named(p, [&] { p.volume->writeInPlace(p.rel, bytes, append); });
}

}  // namespace

void writeFile(const Machine& m, std::string_view path, std::string_view bytes) {
  writeInPlace(m, path, bytes, false);
}

void appendFile(const Machine& m, std::string_view path, std::string_view bytes) {
  writeInPlace(m, path, bytes, true);
}

void writeFileAtomic(const Machine& m, std::string_view path, std::string_view bytes,
                     uint8_t attributes) {
  imagefs::replace(imagefs::place(m, path), attributes, false, [&](const PutBytes& put) { put(bytes); });
}

void writeFileAtomicStreamed(const Machine& m, std::string_view path, uint8_t attributes,
                             const std::function<void(const PutBytes& put)>& produce, ReadOnlyTarget readOnly) {
  imagefs::replace(imagefs::place(m, path), attributes, readOnly == ReadOnlyTarget::Replace, produce);
}

void copyFile(const Machine& m, std::string_view from, std::string_view to) {
  auto in = openFile(m, from);
  NewFile info{getAttributes(m, from), lastModified(m, from)};
  auto out = createFile(m, to, info);
  // Read and written in pieces, so a file of any size needs one piece of
  // memory; between folder drives the host copies.
  if (!HostVolume::copyBetween(*in, *out)) {
    std::string buf(1 << 16, '\0');
    for (uint64_t at = 0; at < in->size();) {
      size_t n = in->readAt(at, buf.data(), buf.size());
      if (n == 0) break;
      out->write(std::string_view(buf.data(), n));
      at += n;
    }
  }
  imagefs::Place p = imagefs::place(m, to);
  imagefs::named(p, [&] { out->commit(); });
}

void deleteFile(const Machine& m, std::string_view path) { imagefs::deleteFile(imagefs::place(m, path)); }

void renameFile(const Machine& m, std::string_view from, std::string_view to) {
  imagefs::renameFile(imagefs::place(m, from), imagefs::place(m, to));
}

void makeFolder(const Machine& m, std::string_view path) { imagefs::makeFolder(imagefs::place(m, path)); }

void removeTree(const Machine& m, std::string_view path) { imagefs::removeTree(imagefs::place(m, path)); }

// --- times, sizes, attributes ---------------------------------------------------

DateTime lastModified(const Machine& m, std::string_view path) {
  return imagefs::existing(imagefs::place(m, path)).modified;
}

void setLastModified(const Machine& m, std::string_view path, const DateTime& t) {
  imagefs::Place p = imagefs::place(m, path);
  imagefs::existing(p);
  FileTimes times;
  times.modified = t;
  imagefs::named(p, [&] { p.volume->setTimes(p.rel, times); });
}

uint64_t fileSize(const Machine& m, std::string_view path) {
  FileEntry e = imagefs::existing(imagefs::place(m, path));
  if (e.isFolder()) throw Error(kFileNotFound, str(path));
  return e.size;
}

uint8_t getAttributes(const Machine& m, std::string_view path) {
  return imagefs::existing(imagefs::place(m, path)).attributes;
}

void setAttributes(const Machine& m, std::string_view path, uint8_t attrs) {
  imagefs::Place p = imagefs::place(m, path);
  imagefs::existing(p);
  imagefs::named(p, [&] { p.volume->setAttributes(p.rel, attrs); });
}

// --- Dir --------------------------------------------------------------------------

std::string DirEnum::first(const Machine& m, std::string_view pattern, uint8_t mask) {
  names_.clear();
  pos_ = 0;
  std::string name = winBaseName(pattern);
  std::string folder = str(pattern.substr(0, pattern.size() - name.size()));
  if (folder.empty()) throw Error(kBadFileNameSyntax, str(pattern));
  imagefs::Place p = imagefs::place(m, pattern);
  try {
    names_ = imagefs::dir(p, mask);
  } catch (const Error& e) {
    if (e.number() == kDiskNotReady || e.number() == kDeviceError) imagefs::rethrowNamed(e, p);
  }
  return next();
}

std::string DirEnum::next() {
  if (pos_ >= names_.size()) return {};
  return names_[pos_++];
}

void removeStaleTemporaries(const Machine& m, std::string_view folder) {
  // A FAT volume keeps no temporaries under names.
  if (folder.size() >= 2 && folder[1] == ':' && m.driveImage(folder[0])) return;
  imagefs::Place p = imagefs::place(m, folder);
  auto* host = dynamic_cast<HostVolume*>(p.volume);
  if (!host) return;
  fs::path dir = imagefs::named(p, [&] { return host->hostPath(p.rel); });
  if (auto e = imagefs::find(p); e && e->isFolder()) temporaries::sweep(dir);
}

bool isWriteProtected(const Machine& m, char drive) {
  try {
    if (Volume* v = m.volume(drive)) return v->writeProtected();
  } catch (const Error&) {
  }
  return hostfs::writeProtected(m, drive);
}

bool driveExists(const Machine& m, char drive) { return m.hasDrive(drive); }

uint64_t freeSpace(const Machine& m, char drive) {
  std::string root = std::string(1, drive) + ":\\";
  imagefs::Place p = imagefs::place(m, root);
  return imagefs::named(p, [&] { return p.volume->space().freeBytes; });
}

}  // namespace platform
