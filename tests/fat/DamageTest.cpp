// Damaged images: a message that names the image and what is wrong, and
// nothing written to the image.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "tests/fat/support.h"

using namespace platform;
using namespace testing_fat;

namespace {

// A floppy as the library writes it: A.TXT (2 clusters), DIR with F.TXT
// (3 clusters) and enough entries for DIR to take 3 clusters.
std::string healthyFloppy(const TempDir& dir) {
  Image img = makeImage(dir.path(), Kind::Floppy, "healthy.img");
  auto v = mount(img, "A:");
  auto put = [&](const std::string& p, const std::string& b) {
    auto w = v->create(p);
    w->write(b);
    w->commit();
  };
  put("A.TXT", std::string(1000, 'a'));
  v->makeFolder("DIR");
  put("DIR\\F.TXT", std::string(1500, 'f'));
  for (int i = 0; i < 30; ++i) put("DIR\\G" + std::to_string(i) + ".TXT", "g");
  v.reset();
  return slurp(img.path);
}

constexpr size_t kFat = 512, kFatBytes = 9 * 512, kRoot = 19 * 512, kData = 33 * 512;

size_t clusterOffset(uint32_t c) { return kData + (c - 2) * 512; }

void setFat12(std::string& img, uint32_t c, uint32_t v) {
  for (size_t copy = 0; copy < 2; ++copy) {
    auto* fat = reinterpret_cast<unsigned char*>(img.data() + kFat + copy * kFatBytes);
    size_t at = c + c / 2;
    if (c & 1) {
      fat[at] = static_cast<unsigned char>((fat[at] & 0x0F) | (v << 4));
      fat[at + 1] = static_cast<unsigned char>(v >> 4);
    } else {
      fat[at] = static_cast<unsigned char>(v);
      fat[at + 1] = static_cast<unsigned char>((fat[at + 1] & 0xF0) | (v >> 8));
    }
  }
}

// The short slot of an 11-byte name in the folder whose slots start at at.
size_t slotOf(const std::string& img, size_t at, const char* name11) {
  for (size_t i = 0; i < 512; ++i) {
    if (std::memcmp(img.data() + at + i * 32, name11, 11) == 0) return at + i * 32;
  }
  ADD_FAILURE() << "no slot " << name11;
  return 0;
}

uint32_t firstCluster(const std::string& img, size_t slot) {
  return static_cast<unsigned char>(img[slot + 26]) | static_cast<unsigned char>(img[slot + 27]) << 8;
}

void setFirstCluster(std::string& img, size_t slot, uint32_t c) {
  img[slot + 26] = static_cast<char>(c);
  img[slot + 27] = static_cast<char>(c >> 8);
}

TEST(DamagedImages, NameTheImageAndWhatIsWrongAndWriteNothing) {
  TempDir dir;
  const std::string healthy = healthyFloppy(dir);
  const size_t a = slotOf(healthy, kRoot, "A       TXT");
  const size_t d = slotOf(healthy, kRoot, "DIR        ");
  const uint32_t dirCluster = firstCluster(healthy, d);
  const size_t f = slotOf(healthy, clusterOffset(dirCluster), "F       TXT");

  struct Case {
    std::string what;
    std::function<void(std::string&)> damage;
    std::function<void(Volume&)> use;  // what meets the damage
    std::string message;
  } cases[] = {
      {"zeros", [](std::string& s) { s.assign(s.size(), '\0'); }, [](Volume& v) { v.space(); },
       "not a FAT disk image (no boot sector and no partition table)"},
      {"text", [](std::string& s) { s = std::string(20000, 'x'); }, [](Volume& v) { v.space(); },
       "not a FAT disk image"},
      {"shorter than a sector", [](std::string& s) { s.resize(100); }, [](Volume& v) { v.space(); },
       "shorter than one sector"},
      {"truncated", [](std::string& s) { s.resize(700000); }, [](Volume& v) { v.space(); },
       "truncated: the file system needs 1474560 bytes, the image has 700000"},
      {"a FAT too small", [](std::string& s) { s[22] = 1; }, [](Volume& v) { v.space(); },
       "the FAT is too small"},
      {"a loop in a chain",
       [&](std::string& s) { setFat12(s, firstCluster(s, a) + 1, firstCluster(s, a)); },
       [](Volume& v) { v.readAll("A.TXT"); }, "the cluster chain of the file A:\\A.TXT loops"},
      {"a loop met by a replacement",
       [&](std::string& s) { setFat12(s, firstCluster(s, a) + 1, firstCluster(s, a)); },
       [](Volume& v) { v.create("A.TXT"); }, "the cluster chain of the file A:\\A.TXT loops"},
      {"an entry outside the disk", [&](std::string& s) { setFirstCluster(s, a, 4000); },
       [](Volume& v) { v.remove("A.TXT"); }, "the file A:\\A.TXT starts at cluster 4000, outside the disk"},
      {"a chain into a free cluster", [&](std::string& s) { setFat12(s, firstCluster(s, f), 0); },
       [](Volume& v) { v.writeInPlace("DIR\\F.TXT", "more", true); },
       "the cluster chain of the file A:\\DIR\\F.TXT runs into a free cluster"},
      {"a folder that runs off its chain", [&](std::string& s) { setFat12(s, dirCluster, 3999); },
       [](Volume& v) { v.create("DIR\\NEW.TXT"); },
       "the cluster chain of the folder A:\\DIR points to cluster 3999, outside the disk"},
      {"a folder outside the disk", [&](std::string& s) { setFirstCluster(s, d, 0); },
       [](Volume& v) { v.list("DIR"); }, "the folder A:\\DIR points to cluster 0, outside the disk"},
      {"a file longer than its chain", [&](std::string& s) { s[a + 29] = 0x10; },
       [](Volume& v) { v.open("A.TXT"); }, "the file A:\\A.TXT is longer than its cluster chain"},
      {"a partition table without FAT",
       [](std::string& s) {
         s.assign(s.size(), '\0');
         s[446 + 4] = '\x83';
         s[510] = '\x55';
         s[511] = '\xAA';
       },
       [](Volume& v) { v.space(); }, "a partition table without a FAT12, FAT16 or FAT32 partition"},
  };
  for (const Case& c : cases) {
    std::string bytes = healthy;
    c.damage(bytes);
    fs::path p = dir / "damaged.img";
    spit(p, bytes);
    std::string message;
    int number = 0;
    try {
      auto v = platform::fat::FatVolume::openImage(p, {"A:", false, std::chrono::milliseconds(1000)});
      c.use(*v);
    } catch (const Error& e) {
      number = e.number();
      message = e.what();
    }
    EXPECT_EQ(number, kDeviceError) << c.what;
    EXPECT_NE(message.find(p.string() + ": "), std::string::npos) << c.what << ": " << message;
    EXPECT_NE(message.find(c.message), std::string::npos) << c.what << ": " << message;
    EXPECT_EQ(slurp(p), bytes) << c.what << ": the image was written to";
    EXPECT_FALSE(fs::exists(p.string() + ".journal")) << c.what;
  }
}

TEST(DamagedImages, AMissingImageIsNoDisk) {
  TempDir dir;
  int number = 0;
  try {
    platform::fat::FatVolume::openImage(dir / "floppy.img", {"A:"});
  } catch (const Error& e) {
    number = e.number();
  }
  EXPECT_EQ(number, kDiskNotReady);
}

}  // namespace
