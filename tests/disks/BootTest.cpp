// The floppies the program writes, booted: DOS runs A:\Autoexec.bat on the
// machine and the Windows folder is restored, or deleted for a reinstall.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "Station.h"
#include "tests/support/host_attributes.h"
#include "platform/files.h"
#include "tools/command/floppy_boot.h"

using station::kProgram;
using station::kWin;
using testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

struct Boot {
  command::BootResult result;
  std::string screen;
};

Boot boot(const station::Station& s) {
  std::ostringstream out, err;
  Boot b;
  b.result = command::bootFloppy(*s.machine, out, err);
  b.screen = out.str() + err.str();
  return b;
}

constexpr uint8_t kRhs = platform::kReadOnly | platform::kHidden | platform::kSystem;

// The rescue disk made on screen from an archive of the live set: the
// archive's contents by file name.
std::map<std::string, std::string> makeRescueDisk(station::Station& s) {
  std::map<std::string, std::string> backup;
  for (const std::string& n : s.set()) backup[n] = s.read(kWin + "\\" + n);
  std::string archive = s.makeArchive("rescue", "for the floppy\r\n");
  s.main->tlbCmdRescueDisk_Click();
  s.selectArchive(s.main->lvwRescueDisk, archive);
  EXPECT_TRUE(s.settle());
  s.main->cmdPrepareDisk->userClick();
  EXPECT_TRUE(s.settle());
  s.ensureDiskArchive("ad.kvt");
  s.take("");
  s.main->cmdMakeDisk->userClick();
  EXPECT_TRUE(s.settle());
  EXPECT_THAT(s.take("message:"),
              testing::ElementsAre("message: Brakvel 9x | information | Automated rescue disk successfully created ."));
  return backup;
}

void corrupt(const station::Station& s) {
  for (const std::string& n : s.set()) {
    if (n.find(".dat") == std::string::npos) continue;
    s.write(kWin + "\\" + n, "corrupted " + n);
    platform::setAttributes(*s.machine, kWin + "\\" + n, kRhs);
  }
  s.write(kWin + "\\Win.ini", "[windows]\r\nload=broken\r\n");
}

TEST(RescueBoot, RestoresTheArchiveWithItsAttributes) {
  for (bool me : {false, true}) {
    SCOPED_TRACE(me ? "ME" : "98");
    station::Station s(me);
    auto backup = makeRescueDisk(s);
    corrupt(s);
    Boot b = boot(s);
    ASSERT_TRUE(b.result.booted) << b.screen;
    EXPECT_EQ(b.result.outcome.stop, command::Stop::Restart) << b.screen;
    EXPECT_THAT(b.screen, HasSubstr("SYSTEM FILES RESTORATION WAS SUCCESSFULL."));
    EXPECT_THAT(b.screen, testing::Not(HasSubstr("FILE NOT FOUND !")));
    for (auto& [n, bytes] : backup) {
      EXPECT_EQ(s.read(kWin + "\\" + n), bytes) << n;
      if (n.find(".dat") != std::string::npos) {
        EXPECT_EQ(platform::getAttributes(*s.machine, kWin + "\\" + n) & kRhs, testsupport::attributesKept(*s.machine, 'C', kRhs) & kRhs) << n;
      }
    }
  }
}

TEST(RescueBoot, ARescueFolderWithoutWinIniSaysFileNotFound) {
  station::Station s;
  auto backup = makeRescueDisk(s);
  s.remove(kProgram + "\\Rescue\\Win.ini");
  corrupt(s);
  Boot b = boot(s);
  ASSERT_TRUE(b.result.booted) << b.screen;
  EXPECT_THAT(b.screen, HasSubstr("FILE NOT FOUND !"));
  EXPECT_THAT(b.screen, testing::Not(HasSubstr("SUCCESSFULL")));
  for (const char* n : {"System.dat", "User.dat", "System.ini"}) EXPECT_EQ(s.read(kWin + "\\" + n), backup[n]) << n;
  EXPECT_EQ(s.read(kWin + "\\Win.ini"), "[windows]\r\nload=broken\r\n");
}

// Every file under a host folder with its bytes, the skipped ones left out.
std::map<std::string, std::string> snapshot(const fs::path& root, const std::vector<std::string>& skip) {
  std::map<std::string, std::string> files;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
    std::string rel = fs::relative(it->path(), root).generic_string();
    bool skipped = false;
    for (const std::string& s : skip)
      if (rel == s || rel.rfind(s + "/", 0) == 0) skipped = true;
    if (skipped || it->is_directory() || it->is_symlink()) continue;
    std::ifstream f(it->path(), std::ios::binary);
    files[rel] = std::string(std::istreambuf_iterator<char>(f), {});
  }
  return files;
}

TEST(ReinstallBoot, DeletesTheWindowsFolderAndStartsSetup) {
  for (bool me : {false, true}) {
    SCOPED_TRACE(me ? "ME" : "98");
    station::Station s(me);
    s.ensureDiskArchive("ard.kvt");
    s.take("");
    s.main->cmdMakeReinstallDisk->userClick();
    ASSERT_TRUE(s.settle());
    EXPECT_THAT(s.take("message:"),
                testing::ElementsAre("message: Brakvel 9x | information | Automated clean Windows reinstall disk successfully created ."));
    const fs::path c = s.dir / "drive_c";
    EXPECT_EQ(fs::exists(c / "_restore"), me);
    auto before = snapshot(c, {"WINDOWS", "_restore"});
    ASSERT_FALSE(before.empty());
    Boot b = boot(s);
    ASSERT_TRUE(b.result.booted) << b.screen;
    EXPECT_EQ(b.result.outcome.stop, command::Stop::Setup) << b.screen;
    EXPECT_THAT(b.screen, HasSubstr("Windows directory successfully deleted ."));
    EXPECT_FALSE(fs::exists(c / "WINDOWS"));
    EXPECT_FALSE(fs::exists(c / "_restore"));
    EXPECT_EQ(snapshot(c, {}), before);
  }
}

}  // namespace
