#include "platform/file_streams.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include "platform/error.h"
#include "platform/host_volume.h"
#include "platform/image_files.h"

namespace platform {

std::unique_ptr<FileReader> openFile(const Machine& m, std::string_view path) {
  imagefs::Place p = imagefs::place(m, path);
  if (imagefs::existing(p).isFolder()) throw Error(kPathFileAccess, p.shown);
  return imagefs::named(p, [&] { return p.volume->open(p.rel); });
}

FileBytes::FileBytes(FileBytes&& o) noexcept : map_(o.map_), size_(o.size_), copy_(std::move(o.copy_)) {
  o.map_ = nullptr;
  o.size_ = 0;
}

FileBytes& FileBytes::operator=(FileBytes&& o) noexcept {
  if (this != &o) {
    if (map_) ::munmap(map_, size_);
    map_ = o.map_;
    size_ = o.size_;
    copy_ = std::move(o.copy_);
    o.map_ = nullptr;
    o.size_ = 0;
  }
  return *this;
}

FileBytes::~FileBytes() {
  if (map_) ::munmap(map_, size_);
}

FileBytes mapFile(const Machine& m, std::string_view path) {
  FileBytes b;
  std::unique_ptr<FileReader> r = openFile(m, path);
  const size_t size = static_cast<size_t>(r->size());
  if (int fd = HostVolume::descriptorOf(*r); fd >= 0 && size > 0) {
    // Files are replaced by rename, never rewritten in place, so the
    // mapped bytes stay those of the file that was opened.
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (p != MAP_FAILED) {
      b.map_ = p;
      b.size_ = size;
      return b;
    }
  }
  b.copy_.resize(size);
  size_t done = 0;
  while (done < size) {
    size_t n = r->readAt(done, b.copy_.data() + done, size - done);
    if (n == 0) break;
    done += n;
  }
  b.copy_.resize(done);
  return b;
}

std::unique_ptr<FileWriter> createFile(const Machine& m, std::string_view path, const NewFile& file) {
  imagefs::Place p = imagefs::place(m, path);
  if (p.parts == 0) throw Error(kPathFileAccess, p.shown);
  return imagefs::named(p, [&] { return p.volume->create(p.rel, file); });
}

}  // namespace platform
