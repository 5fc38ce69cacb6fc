#include "cab/writer.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "cab/error.h"

namespace cab {

namespace {

constexpr size_t kBlock = 32768;
// Blocks compressed at once: 2 MiB in, ~2 MiB out. Large, so that a thread
// rarely waits for the last block of a batch.
constexpr size_t kBatch = 64;
constexpr uint16_t kFlagReserve = 0x0004;

void put16(std::string& s, uint32_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void put32(std::string& s, uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}
void set32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
void set16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

uint16_t dosDate(const Source& s) {
  int y = std::clamp(s.year, 1980, 2107);
  int m = std::clamp(s.month, 1, 12), d = std::clamp(s.day, 1, 31);
  if (s.year < 1980) m = d = 1;
  return static_cast<uint16_t>(((y - 1980) << 9) | (m << 5) | d);
}
uint16_t dosTime(const Source& s) {
  return static_cast<uint16_t>((std::clamp(s.hour, 0, 23) << 11) | (std::clamp(s.minute, 0, 59) << 5) |
                               (std::clamp(s.second, 0, 59) / 2));
}

// One compressed block: the CFDATA header followed by its data.
struct Block {
  std::vector<uint8_t> bytes;
  size_t size = 0;
};

// The search is zlib's level 5 with lazy matching up to 32, and each block
// is primed with the 16 KiB before it: against level 6 with the full 32 KiB
// this costs 4% in size and saves 40% of the time, because the hash chains
// of a primed dictionary are walked mostly in cache misses. The cabinets
// stay smaller than those of independent level-6 blocks.
constexpr size_t kDictionary = 16384;

class Deflater {
 public:
  Deflater() {
    std::memset(&z_, 0, sizeof z_);
    if (deflateInit2(&z_, 5, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw CabError("cannot start the compressor");
  }
  ~Deflater() { deflateEnd(&z_); }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  // MSZIP block: "CK" and a complete deflate stream of `in`, primed with the
  // `dict` bytes just before it.
  void compress(const uint8_t* in, size_t dict, size_t n, Block& out) {
    deflateReset(&z_);  // also restores the level's search parameters
    deflateTune(&z_, 8, 32, 32, 32);
    if (dict) deflateSetDictionary(&z_, in - dict, static_cast<uInt>(dict));
    uint8_t* data = out.bytes.data() + 8;
    data[0] = 'C';
    data[1] = 'K';
    z_.next_in = const_cast<uint8_t*>(in);
    z_.avail_in = static_cast<uInt>(n);
    z_.next_out = data + 2;
    z_.avail_out = static_cast<uInt>(out.bytes.size() - 10);
    if (deflate(&z_, Z_FINISH) != Z_STREAM_END) throw CabError("the compressor failed");
    size_t packed = z_.total_out;
    // zlib ends a deflate block every 16K literals, so input that does not
    // compress costs two stored blocks' headers; one does.
    if (packed > n + 5) {
      data[2] = 0x01;  // final stored block
      set16(data + 3, static_cast<uint32_t>(n));
      set16(data + 5, static_cast<uint32_t>(~n & 0xFFFF));
      std::memcpy(data + 7, in, n);
      packed = n + 5;
    }
    finish(out, 2 + packed, n);
  }

  static void finish(Block& out, size_t dataSize, size_t uncompressed) {
    uint8_t* h = out.bytes.data();
    set16(h + 4, static_cast<uint32_t>(dataSize));
    set16(h + 6, static_cast<uint32_t>(uncompressed));
    uint32_t sum = checksum(h + 8, dataSize, 0);
    set32(h, checksum(h + 4, 4, sum));
    out.size = 8 + dataSize;
  }

 private:
  z_stream z_;
};

// Worker threads that compress the blocks of one batch at a time.
class Pool {
 public:
  explicit Pool(unsigned threads) {
    for (unsigned i = 0; i < threads; ++i) deflaters_.push_back(std::make_unique<Deflater>());
    for (unsigned i = 1; i < threads; ++i) workers_.emplace_back([this, i] { loop(i); });
  }
  ~Pool() {
    {
      std::lock_guard lock(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    for (auto& t : workers_) t.join();
  }

  // Starts compressing blocks [0, count) of the batch at `in` into out,
  // `in` preceded by kDictionary bytes of the input before it unless
  // `first`; finish() takes part and waits for the end.
  void start(bool first, const uint8_t* in, size_t total, size_t count, std::vector<Block>& out) {
    {
      std::lock_guard lock(mu_);
      first_ = first;
      in_ = in;
      total_ = total;
      count_ = count;
      out_ = &out;
      next_.store(0);
      busy_ = workers_.size();
      error_.clear();
      ++generation_;
    }
    cv_.notify_all();
  }

  void finish() {
    work(0);
    std::unique_lock lock(mu_);
    done_.wait(lock, [this] { return busy_ == 0; });
    if (!error_.empty()) throw CabError(error_);
  }

 private:
  void loop(unsigned id) {
    uint64_t seen = 0;
    for (;;) {
      {
        std::unique_lock lock(mu_);
        cv_.wait(lock, [&] { return stop_ || generation_ != seen; });
        if (stop_) return;
        seen = generation_;
      }
      work(id);
      std::lock_guard lock(mu_);
      if (--busy_ == 0) done_.notify_all();
    }
  }

  void work(unsigned id) {
    try {
      for (size_t i; (i = next_.fetch_add(1)) < count_;) {
        const uint8_t* src = in_ + i * kBlock;
        size_t n = std::min(kBlock, total_ - i * kBlock);
        deflaters_[id]->compress(src, i == 0 && first_ ? 0 : kDictionary, n, (*out_)[i]);
      }
    } catch (const std::exception& e) {
      std::lock_guard lock(mu_);
      if (error_.empty()) error_ = e.what();
      next_.store(count_);
    }
  }

  std::vector<std::unique_ptr<Deflater>> deflaters_;
  std::vector<std::thread> workers_;
  std::mutex mu_;
  std::condition_variable cv_, done_;
  bool stop_ = false;
  uint64_t generation_ = 0;
  size_t busy_ = 0;
  std::atomic<size_t> next_{0};
  bool first_ = true;
  const uint8_t* in_ = nullptr;
  size_t total_ = 0, count_ = 0;
  std::vector<Block>* out_ = nullptr;
  std::string error_;
};

// Reads the sources one after the other as one stream of member data.
class Feeder {
 public:
  explicit Feeder(std::vector<Source>& s) : sources_(s) {}
  // Fills up to n bytes; fewer only at the end of the last source.
  size_t fill(uint8_t* buf, size_t n) {
    size_t got = 0;
    while (got < n && index_ < sources_.size()) {
      Source& s = sources_[index_];
      uint64_t size = s.data->size();
      if (left_ == UINT64_MAX) {
        s.data->seek(0);
        left_ = size;
      }
      size_t want = static_cast<size_t>(std::min<uint64_t>(n - got, left_));
      size_t r = want ? s.data->read(buf + got, want) : 0;
      if (r < want) throw CabError(s.label + " became shorter while it was being read");
      got += r;
      left_ -= r;
      if (left_ == 0) {
        uint8_t extra;
        if (s.data->read(&extra, 1) != 0)
          throw CabError(s.label + " grew while it was being read");
        ++index_;
        left_ = UINT64_MAX;
      }
    }
    return got;
  }

 private:
  std::vector<Source>& sources_;
  size_t index_ = 0;
  uint64_t left_ = UINT64_MAX;
};

}  // namespace

uint32_t checksum(const uint8_t* data, size_t n, uint32_t seed) {
  uint32_t sum = seed;
  size_t words = n / 4;
  for (size_t i = 0; i < words; ++i, data += 4)
    sum ^= static_cast<uint32_t>(data[0]) | (static_cast<uint32_t>(data[1]) << 8) |
           (static_cast<uint32_t>(data[2]) << 16) | (static_cast<uint32_t>(data[3]) << 24);
  uint32_t tail = 0;
  switch (n & 3) {
    case 3: tail |= static_cast<uint32_t>(*data++) << 16; [[fallthrough]];
    case 2: tail |= static_cast<uint32_t>(*data++) << 8; [[fallthrough]];
    case 1: tail |= *data; break;
    default: break;
  }
  return sum ^ tail;
}

WriteResult write(std::vector<Source>& sources, OutStream& out, const WriteOptions& opt) {
  const std::string& cabLabel = opt.label.empty() ? std::string("the cabinet") : opt.label;
  if (sources.empty()) throw CabError(cabLabel + ": no files to put into the cabinet");
  if (sources.size() > 65535) throw CabError(cabLabel + ": more than 65535 files");
  if (opt.reserve > 60000) throw CabError(cabLabel + ": the reserve area is larger than 60000 bytes");

  uint64_t total = 0;
  for (auto& s : sources) {
    if (s.name.empty() || s.name.size() > 255)
      throw CabError(s.label + ": a member name must have 1 to 255 characters");
    uint64_t size = s.data->size();
    if (size > UINT32_MAX) throw CabError(s.label + " is larger than a cabinet member can be (4 GiB)");
    total += size;
  }
  if (total > kMaxFolderBytes)
    throw CabError(cabLabel + ": the files hold more than one cabinet can take (" +
                   std::to_string(kMaxFolderBytes) + " bytes)");

  // Headers first, with the counts known only at the end patched in later.
  std::string head;
  head += "MSCF";
  put32(head, 0);
  put32(head, 0);  // cbCabinet
  put32(head, 0);
  size_t coffFilesAt = head.size();
  put32(head, 0);  // coffFiles
  put32(head, 0);
  head.push_back(3);
  head.push_back(1);
  put16(head, 1);
  put16(head, static_cast<uint32_t>(sources.size()));
  put16(head, opt.reserve ? kFlagReserve : 0);
  put16(head, 0);  // setID
  put16(head, 0);  // iCabinet
  if (opt.reserve) {
    put16(head, opt.reserve);
    head.push_back(0);
    head.push_back(0);
    head.append(opt.reserve, '\0');
  }
  size_t folderAt = head.size();
  put32(head, 0);  // coffCabStart
  put16(head, 0);  // cCFData
  put16(head, opt.compression == Compression::MSZIP ? 1 : 0);
  uint32_t coffFiles = static_cast<uint32_t>(head.size());
  uint64_t offset = 0;
  for (auto& s : sources) {
    put32(head, static_cast<uint32_t>(s.data->size()));
    put32(head, static_cast<uint32_t>(offset));
    put16(head, 0);
    put16(head, dosDate(s));
    put16(head, dosTime(s));
    put16(head, s.attributes & 0x27);
    head += s.name;
    head.push_back('\0');
    offset += s.data->size();
  }
  uint32_t coffCabStart = static_cast<uint32_t>(head.size());
  set32(reinterpret_cast<uint8_t*>(head.data()) + coffFilesAt, coffFiles);
  set32(reinterpret_cast<uint8_t*>(head.data()) + folderAt, coffCabStart);
  uint64_t base = out.written();
  out.write(head.data(), head.size());

  WriteResult result;
  result.inBytes = total;
  Feeder feeder(sources);
  unsigned threads = opt.threads ? opt.threads : std::max(1u, std::thread::hardware_concurrency());
  size_t batch = opt.compression == Compression::MSZIP ? kBatch : 1;
  threads = static_cast<unsigned>(std::min<size_t>(threads, batch));

  // Two input buffers: the next batch is read into one while the other is
  // compressed. Each starts with the kDictionary bytes before its batch.
  std::vector<uint8_t> in[2] = {std::vector<uint8_t>(kDictionary + batch * kBlock),
                                std::vector<uint8_t>(kDictionary + batch * kBlock)};
  std::vector<Block> blocks(batch);
  for (auto& b : blocks) b.bytes.resize(8 + 2 + kBlock + kBlock / 8 + 64);
  std::unique_ptr<Pool> pool;
  if (opt.compression == Compression::MSZIP) pool = std::make_unique<Pool>(threads);

  const size_t full = batch * kBlock;
  size_t cur = 0;
  size_t got = feeder.fill(in[cur].data() + kDictionary, full);
  for (bool first = true; got > 0; first = false, cur ^= 1) {
    const uint8_t* at = in[cur].data() + kDictionary;
    size_t count = (got + kBlock - 1) / kBlock;
    if (pool) {
      pool->start(first, at, got, count, blocks);
    } else {
      for (size_t i = 0; i < count; ++i) {
        size_t n = std::min(kBlock, got - i * kBlock);
        std::memcpy(blocks[i].bytes.data() + 8, at + i * kBlock, n);
        Deflater::finish(blocks[i], n, n);
      }
    }
    size_t next = 0;
    if (got == full) {
      std::memcpy(in[cur ^ 1].data(), at + full - kDictionary, kDictionary);
      next = feeder.fill(in[cur ^ 1].data() + kDictionary, full);
    }
    if (pool) pool->finish();
    for (size_t i = 0; i < count; ++i) out.write(blocks[i].bytes.data(), blocks[i].size);
    result.blocks += static_cast<uint32_t>(count);
    got = next;
  }

  result.outBytes = out.written() - base;
  if (opt.maxSize && result.outBytes > opt.maxSize)
    throw CabError(cabLabel + " would be " + std::to_string(result.outBytes) +
                   " bytes, more than MaxDiskSize allows (" + std::to_string(opt.maxSize) + ")");
  if (result.outBytes > UINT32_MAX) throw CabError(cabLabel + " would be larger than 4 GiB");
  uint8_t buf[4];
  set32(buf, static_cast<uint32_t>(result.outBytes));
  out.patch(base + 8, buf, 4);
  set16(buf, result.blocks);
  out.patch(base + folderAt + 4, buf, 2);
  return result;
}

}  // namespace cab
