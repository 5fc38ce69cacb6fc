#include "cab/reader.h"

#include <mspack.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cab/error.h"

namespace cab {

namespace {

constexpr const char* kCabinetName = "cabinet";
constexpr const char* kOutputName = "output";

struct Handle {
  InStream* in = nullptr;
  uint64_t pos = 0;
  OutStream* out = nullptr;
  uint64_t written = 0;
};

}  // namespace

struct Reader::Impl {
  // libmspack hands our table back to every callback; the owner follows it.
  struct System {
    mspack_system sys;
    Impl* owner;
  } system{};
  std::unique_ptr<InStream> in;
  std::string label;
  OutStream* out = nullptr;
  Handle* outHandle = nullptr;
  std::string ioError;  // first failure of our own streams
  mscab_decompressor* decomp = nullptr;
  mscabd_cabinet* cabinet = nullptr;
  std::vector<mscabd_file*> files;
  std::vector<Member> members;


  // (Re)creates the decompressor and reads the headers; libmspack's state
  // after a failed extraction is not to be trusted, so a failure drops it.
  int load() {
    if (decomp) {
      if (cabinet) decomp->close(decomp, cabinet);
      mspack_destroy_cab_decompressor(decomp);
      cabinet = nullptr;
    }
    files.clear();
    decomp = mspack_create_cab_decompressor(&system.sys);
    if (!decomp) return MSPACK_ERR_NOMEMORY;
    decomp->set_param(decomp, MSCABD_PARAM_DECOMPBUF, 65536);
    cabinet = decomp->open(decomp, const_cast<char*>(kCabinetName));
    int err = cabinet ? MSPACK_ERR_OK : decomp->last_error(decomp);
    if (err == MSPACK_ERR_SIGNATURE || err == MSPACK_ERR_DATAFORMAT) {
      // A cabinet may sit inside another file (a self-extractor, junk before
      // it, or a false signature first): take the first one that parses.
      cabinet = decomp->search(decomp, const_cast<char*>(kCabinetName));
      if (cabinet && cabinet->files) {
        err = MSPACK_ERR_OK;
      } else if (cabinet) {
        decomp->close(decomp, cabinet);
        cabinet = nullptr;
      }
    }
    if (cabinet)
      for (mscabd_file* f = cabinet->files; f; f = f->next) files.push_back(f);
    return err;
  }
  bool stale = false;  // an extraction failed: load() before the next

  static Impl* of(mspack_system* s) { return reinterpret_cast<System*>(s)->owner; }
  static Impl* of(mspack_file* f);

  ~Impl() {
    if (decomp) {
      if (cabinet) decomp->close(decomp, cabinet);  // frees the whole search list
      mspack_destroy_cab_decompressor(decomp);
    }
  }
};

namespace {

struct FileRec {
  Handle h;
  Reader::Impl* owner;
};

mspack_file* sysOpen(mspack_system* self, const char* filename, int mode) {
  auto* impl = Reader::Impl::of(self);
  auto* rec = new (std::nothrow) FileRec{{}, impl};
  if (!rec) return nullptr;
  if (mode == MSPACK_SYS_OPEN_READ && std::strcmp(filename, kCabinetName) == 0) {
    rec->h.in = impl->in.get();
  } else if (mode == MSPACK_SYS_OPEN_WRITE && std::strcmp(filename, kOutputName) == 0 && impl->out) {
    rec->h.out = impl->out;
    impl->outHandle = &rec->h;
  } else {
    delete rec;
    return nullptr;
  }
  return reinterpret_cast<mspack_file*>(rec);
}

void sysClose(mspack_file* f) {
  auto* rec = reinterpret_cast<FileRec*>(f);
  if (!rec) return;
  if (rec->owner->outHandle == &rec->h) rec->owner->outHandle = nullptr;
  delete rec;
}

int sysRead(mspack_file* f, void* buf, int bytes) {
  auto* rec = reinterpret_cast<FileRec*>(f);
  if (!rec || !rec->h.in || bytes < 0) return -1;
  try {
    rec->h.in->seek(rec->h.pos);
    size_t n = rec->h.in->read(buf, static_cast<size_t>(bytes));
    rec->h.pos += n;
    return static_cast<int>(n);
  } catch (const std::exception& e) {
    if (rec->owner->ioError.empty()) rec->owner->ioError = e.what();
    return -1;
  }
}

int sysWrite(mspack_file* f, void* buf, int bytes) {
  auto* rec = reinterpret_cast<FileRec*>(f);
  if (!rec || !rec->h.out || bytes < 0) return -1;
  try {
    rec->h.out->write(buf, static_cast<size_t>(bytes));
    rec->h.written += static_cast<uint64_t>(bytes);
    return bytes;
  } catch (const std::exception& e) {
    if (rec->owner->ioError.empty()) rec->owner->ioError = e.what();
    return -1;
  }
}

int sysSeek(mspack_file* f, off_t offset, int mode) {
  auto* rec = reinterpret_cast<FileRec*>(f);
  if (!rec || !rec->h.in) return -1;
  int64_t base = 0;
  switch (mode) {
    case MSPACK_SYS_SEEK_START: base = 0; break;
    case MSPACK_SYS_SEEK_CUR: base = static_cast<int64_t>(rec->h.pos); break;
    case MSPACK_SYS_SEEK_END: base = static_cast<int64_t>(rec->h.in->size()); break;
    default: return -1;
  }
  int64_t pos = base + static_cast<int64_t>(offset);
  if (pos < 0) return -1;
  rec->h.pos = static_cast<uint64_t>(pos);
  return 0;
}

off_t sysTell(mspack_file* f) {
  auto* rec = reinterpret_cast<FileRec*>(f);
  if (!rec) return -1;
  return rec->h.in ? static_cast<off_t>(rec->h.pos) : static_cast<off_t>(rec->h.written);
}

// libmspack's warnings (a truncated cabinet, junk after the end) are dropped:
// a cabinet it refuses is reported through its error code.
void sysMessage(mspack_file*, const char*, ...) {}

void* sysAlloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }
void sysFree(void* p) { std::free(p); }
void sysCopy(void* src, void* dest, size_t bytes) { std::memmove(dest, src, bytes); }

std::string methodName(int compType) {
  switch (compType & 0x0F) {
    case 0: return "stored";
    case 1: return "MSZIP";
    case 2: return "Quantum";
    case 3: return "LZX";
    default: return "unknown";
  }
}

std::string describe(int err) {
  switch (err) {
    case MSPACK_ERR_SIGNATURE: return "is not a cabinet";
    case MSPACK_ERR_READ: return "is truncated or cannot be read";
    case MSPACK_ERR_DATAFORMAT: return "is damaged (its headers do not make sense)";
    case MSPACK_ERR_CHECKSUM: return "is damaged (a data block fails its checksum)";
    case MSPACK_ERR_DECRUNCH: return "is damaged (compressed data cannot be decoded)";
    case MSPACK_ERR_NOMEMORY: return "cannot be read: out of memory";
    case MSPACK_ERR_WRITE: return "cannot be extracted: writing failed";
    default: return "cannot be read (error " + std::to_string(err) + ")";
  }
}

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

Reader::Impl* Reader::Impl::of(mspack_file* f) { return reinterpret_cast<FileRec*>(f)->owner; }

Reader::Reader(std::unique_ptr<InStream> in, std::string label) : impl_(std::make_unique<Impl>()) {
  Impl& m = *impl_;
  m.in = std::move(in);
  m.label = std::move(label);
  m.system.owner = &m;
  mspack_system& s = m.system.sys;
  s.open = sysOpen;
  s.close = sysClose;
  s.read = sysRead;
  s.write = sysWrite;
  s.seek = sysSeek;
  s.tell = sysTell;
  s.message = sysMessage;
  s.alloc = sysAlloc;
  s.free = sysFree;
  s.copy = sysCopy;
  s.null_ptr = nullptr;

  int err = m.load();
  if (!m.cabinet) {
    if (err == MSPACK_ERR_READ && m.ioError.empty()) {
      char sig[4] = {};
      m.in->seek(0);
      if (m.in->read(sig, 4) < 4 || std::memcmp(sig, "MSCF", 4) != 0) err = MSPACK_ERR_SIGNATURE;
    }
    std::string msg = m.label + " " + describe(err);
    if (!m.ioError.empty()) msg += ": " + m.ioError;
    throw CabError(msg);
  }
  if (m.cabinet->flags & (MSCAB_HDR_PREVCAB | MSCAB_HDR_NEXTCAB)) {
    std::string msg = m.label + " is part of a set of cabinets that spans several files";
    if (m.cabinet->prevname) msg += std::string(" (previous part ") + m.cabinet->prevname + ")";
    if (m.cabinet->nextname) msg += std::string(" (next part ") + m.cabinet->nextname + ")";
    msg += "; only single cabinets can be read";
    throw CabError(msg);
  }
  for (mscabd_file* f = m.cabinet->files; f; f = f->next) {
    Member mem;
    mem.name = f->filename;
    mem.utf8Name = (f->attribs & MSCAB_ATTRIB_UTF_NAME) != 0;
    mem.size = f->length;
    mem.year = f->date_y;
    mem.month = f->date_m;
    mem.day = f->date_d;
    mem.hour = f->time_h;
    mem.minute = f->time_m;
    mem.second = f->time_s;
    mem.attributes = static_cast<uint8_t>(f->attribs & (MSCAB_ATTRIB_RDONLY | MSCAB_ATTRIB_HIDDEN |
                                                         MSCAB_ATTRIB_SYSTEM | MSCAB_ATTRIB_ARCH));
    mem.method = f->folder ? methodName(f->folder->comp_type) : "unknown";
    m.members.push_back(std::move(mem));
  }
  if (m.members.empty()) throw CabError(m.label + " holds no files");
}

Reader::~Reader() = default;

const std::string& Reader::label() const { return impl_->label; }
const std::vector<Member>& Reader::members() const { return impl_->members; }

std::optional<size_t> Reader::find(std::string_view name) const {
  for (size_t i = 0; i < impl_->members.size(); ++i)
    if (equalNoCase(impl_->members[i].name, name)) return i;
  return std::nullopt;
}

void Reader::extract(size_t index, OutStream& out) {
  Impl& m = *impl_;
  if (index >= m.files.size()) throw CabError(m.label + ": no member number " + std::to_string(index));
  if (m.stale) {
    m.stale = false;
    if (m.load() != MSPACK_ERR_OK || m.files.size() != m.members.size())
      throw CabError(m.label + " cannot be read again");
  }
  m.out = &out;
  m.ioError.clear();
  uint64_t before = out.written();
  int err = m.decomp->extract(m.decomp, m.files[index], const_cast<char*>(kOutputName));
  m.out = nullptr;
  const std::string& name = m.members[index].name;
  if (err != MSPACK_ERR_OK) {
    m.stale = true;
    std::string msg = m.label + " " + describe(err) + "; " + name + " cannot be extracted";
    if (!m.ioError.empty()) msg = m.ioError;
    throw CabError(msg);
  }
  if (out.written() - before != m.members[index].size) {
    m.stale = true;
    throw CabError(m.label + " is damaged; " + name + " comes out with the wrong length");
  }
}

}  // namespace cab
