// mszip_bench: what one core spends on MSZIP blocks, and what they weigh,
// for the cabinet writer and for the other ways of making the same blocks:
// zlib's levels and strategies, each block primed with more or less of the
// input before it, and libdeflate, which takes no preset dictionary.
//   mszip_bench [MIB]   (MIB per input, default 32)
// Each input is compressed in 32 KiB blocks on one thread; the methods take
// turns in every round and the figures are medians of the rounds.
#include <zlib.h>
#ifdef HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tests/support/generated_sets.h"
#include "cab/stream.h"
#include "cab/writer.h"

namespace {

constexpr size_t kBlock = 32768;
constexpr int kRounds = 5;

// A method returns the bytes of all the blocks it made: each with its
// 8-byte block header and the 2-byte MSZIP signature.
using Method = std::function<size_t(const std::string&)>;

Method zlibBlocks(int level, int strategy, size_t primed, bool lazy32, int memLevel = 8) {
  return [=](const std::string& in) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, memLevel, strategy) != Z_OK) std::abort();
    std::vector<uint8_t> out(kBlock + kBlock / 8 + 64);
    auto p = reinterpret_cast<const Bytef*>(in.data());
    size_t total = 0;
    for (size_t at = 0; at < in.size(); at += kBlock) {
      deflateReset(&z);
      if (lazy32) deflateTune(&z, 8, 32, 32, 32);
      size_t dict = std::min(at, primed);
      if (dict) deflateSetDictionary(&z, p + at - dict, static_cast<uInt>(dict));
      z.next_in = const_cast<Bytef*>(p + at);
      z.avail_in = static_cast<uInt>(std::min(kBlock, in.size() - at));
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
      total += 8 + 2 + z.total_out;
    }
    deflateEnd(&z);
    return total;
  };
}

#ifdef HAVE_LIBDEFLATE
Method libdeflateBlocks(int level) {
  return [=](const std::string& in) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(level);
    if (!c) std::abort();
    std::vector<uint8_t> out(kBlock + kBlock / 8 + 64);
    size_t total = 0;
    for (size_t at = 0; at < in.size(); at += kBlock) {
      size_t n = libdeflate_deflate_compress(c, in.data() + at, std::min(kBlock, in.size() - at), out.data(),
                                             out.size());
      if (n == 0) std::abort();
      total += 8 + 2 + n;
    }
    libdeflate_free_compressor(c);
    return total;
  };
}
#endif

// The cabinet writer itself on one thread, headers and checksums included.
size_t writerOnOneCore(const std::string& in) {
  std::vector<cab::Source> sources(1);
  sources[0].name = "System.dat";
  sources[0].data = std::make_unique<cab::MemoryInStream>(in);
  cab::MemoryOutStream out;
  cab::WriteOptions o;
  o.threads = 1;
  return cab::write(sources, out, o).outBytes;
}

// What nothing compresses: a block must cost barely more than its bytes.
std::string noise(size_t n) {
  std::mt19937 rng(7);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

struct Row {
  std::string name;
  Method run;
  std::vector<double> seconds;
  size_t bytes = 0;
  double median() const {
    std::vector<double> v = seconds;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  }
};

}  // namespace

int main(int argc, char** argv) {
  size_t mib = argc > 1 ? std::stoul(argv[1]) : 32;
  const std::vector<std::pair<const char*, std::string>> inputs = {
      {"registry text", generated::registryText(mib << 20, 101)},
      {"CREG hive", generated::cregHive(mib << 20, 101)},
      {"noise", noise(mib << 18)}};

  for (auto& [what, data] : inputs) {
    std::vector<Row> rows = {
        {"the cabinet writer", writerOnOneCore, {}, 0},
        {"zlib 6, unprimed (as gcab -z)", zlibBlocks(6, Z_DEFAULT_STRATEGY, 0, false), {}, 0},
        {"zlib 6, primed 32K", zlibBlocks(6, Z_DEFAULT_STRATEGY, 32768, false), {}, 0},
        {"zlib 6 filtered, primed 16K", zlibBlocks(6, Z_FILTERED, 16384, false), {}, 0},
        {"zlib 5 lazy 32, primed 32K", zlibBlocks(5, Z_DEFAULT_STRATEGY, 32768, true), {}, 0},
        {"zlib 5 lazy 32, primed 16K", zlibBlocks(5, Z_DEFAULT_STRATEGY, 16384, true), {}, 0},
        {"zlib 5 lazy 32, 16K, memLevel 9", zlibBlocks(5, Z_DEFAULT_STRATEGY, 16384, true, 9), {}, 0},
        {"zlib 5 lazy 32, primed 8K", zlibBlocks(5, Z_DEFAULT_STRATEGY, 8192, true), {}, 0},
        {"zlib 5 lazy 32, primed 4K", zlibBlocks(5, Z_DEFAULT_STRATEGY, 4096, true), {}, 0},
        {"zlib 5 lazy 32, unprimed", zlibBlocks(5, Z_DEFAULT_STRATEGY, 0, true), {}, 0},
        {"zlib 5 filtered, primed 16K", zlibBlocks(5, Z_FILTERED, 16384, true), {}, 0},
        {"zlib 4, primed 16K", zlibBlocks(4, Z_DEFAULT_STRATEGY, 16384, false), {}, 0},
        {"zlib 3, primed 16K", zlibBlocks(3, Z_DEFAULT_STRATEGY, 16384, false), {}, 0},
#ifdef HAVE_LIBDEFLATE
        {"libdeflate 5, unprimed", libdeflateBlocks(5), {}, 0},
        {"libdeflate 6, unprimed", libdeflateBlocks(6), {}, 0},
        {"libdeflate 7, unprimed", libdeflateBlocks(7), {}, 0},
        {"libdeflate 8, unprimed", libdeflateBlocks(8), {}, 0},
#endif
    };
    for (int round = 0; round < kRounds; ++round) {
      // Each round in another order, so that no method always follows the same one.
      for (size_t k = 0; k < rows.size(); ++k) {
        Row& r = rows[(k * (round % 2 ? rows.size() - 1 : 1) + static_cast<size_t>(round)) % rows.size()];
        auto start = std::chrono::steady_clock::now();
        r.bytes = r.run(data);
        r.seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      }
    }
    const Row& gcab = rows[1];
    std::printf("%s, %.1f MiB in 32 KiB blocks on one core, medians of %d rounds:\n", what,
                static_cast<double>(data.size()) / (1 << 20), kRounds);
    std::printf("  %-32s %8s %9s %11s %8s %8s\n", "method", "seconds", "MiB/s", "bytes", "speed", "size");
    for (auto& r : rows)
      std::printf("  %-32s %8.3f %9.1f %11zu %7.2fx %8.3f\n", r.name.c_str(), r.median(),
                  static_cast<double>(data.size()) / (1 << 20) / r.median(), r.bytes, gcab.median() / r.median(),
                  static_cast<double>(r.bytes) / static_cast<double>(gcab.bytes));
    std::printf("  (speed and size against the unprimed level-6 blocks gcab -z makes)\n\n");
  }
#ifndef HAVE_LIBDEFLATE
  std::printf("libdeflate rows left out: built without libdeflate-dev\n");
#endif
  return 0;
}
