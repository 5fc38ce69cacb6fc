// A machine whose drive C: is full, on a small file system of its own: a
// hive write fails and says so, the hive stays as it was with its
// attributes, and the program still starts.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/registry/registry.h"
#include "support.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_machine.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The full drive C: is a small host file system of its own (mounting it
// takes root), or a FAT disk image filled to its last cluster.
class FullDisk : public testing::TestWithParam<testsupport::DriveForm> {
 protected:
  void SetUp() override {
    if (GetParam() == testsupport::DriveForm::Image) {
      image.emplace(testsupport::MachineOptions{.layout = testsupport::Layout::Installed,
                                                .c = testsupport::DriveForm::Image});
      machine = image->dir();
      return;
    }
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=4m") != 0)
      GTEST_SKIP() << "a small file system cannot be mounted here (" << std::strerror(errno)
                   << "); run as root, or see the disk-image case";
    mounted = true;
    machine = mountPoint / "machine";
    regtest::Ran init = testsupport::run({MACHINE_EXE, "init", machine.string()}, 120s);
    ASSERT_EQ(init.status, 0) << init.out << init.err;
  }
  void TearDown() override {
    if (mounted) ::umount2(mountPoint.c_str(), MNT_DETACH);
  }

  // Takes every free byte of drive C:.
  void fill() {
    if (image) {
      platform::Machine m = platform::Machine::open(machine);
      platform::writeFile(m, "C:\\filler", std::string(platform::freeSpace(m, 'C'), 'f'));
      ASSERT_EQ(platform::freeSpace(m, 'C'), 0u);
      return;
    }
    int fd = ::open((mountPoint / "filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    std::string chunk(65536, 'f');
    for (size_t size = chunk.size(); size > 0;) {
      if (::write(fd, chunk.data(), size) < 0) size /= 2;
    }
    ::close(fd);
  }

  std::string hive(const char* name) const {
    return platform::readFile(platform::Machine::open(machine), std::string("C:\\WINDOWS\\") + name);
  }
  // Our temporaries left in the Windows folder (a FAT volume keeps none under names).
  std::vector<std::string> leftBehind() const {
    std::vector<std::string> left;
    if (image) return left;
    for (const auto& e : fs::directory_iterator(machine / "drive_c" / "WINDOWS"))
      if (e.path().filename().string().find(".~") != std::string::npos) left.push_back(e.path().string());
    return left;
  }

  testsupport::TempDir base{"brakvel-full"};
  const fs::path mountPoint = base.path();
  std::optional<testsupport::TestMachine> image;
  fs::path machine;
  bool mounted = false;
};

TEST_P(FullDisk, AFailedHiveWriteKeepsTheHiveAndItsAttributes) {
  platform::Machine m = platform::Machine::open(machine);
  const uint8_t rhs = platform::kReadOnly | platform::kHidden | platform::kSystem;
  ASSERT_EQ(platform::getAttributes(m, "C:\\WINDOWS\\System.dat"), rhs);
  platform::writeFile(m, "C:\\add.reg",
                      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Added]\r\n\"v\"=\"" + std::string(5000, 'v') +
                          "\"\r\n");
  const std::string before = hive("System.dat");
  fill();

  regtest::Ran r = regtest::regedit(machine, {"/s", "C:\\add.reg"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("Disk full: C:\\WINDOWS\\System.dat"), std::string::npos) << r.err;
  platform::reg::Registry reg(m);
  EXPECT_EQ(reg.RegSetValue(platform::reg::HKEY_CURRENT_USER, "Software\\Big", std::string(9000, 'b')),
            platform::reg::ERROR_ACCESS_DENIED);
  EXPECT_NE(reg.lastError().find("Disk full: C:\\WINDOWS\\User.dat"), std::string::npos) << reg.lastError();

  EXPECT_TRUE(hive("System.dat") == before);
  EXPECT_EQ(platform::getAttributes(m, "C:\\WINDOWS\\System.dat"), rhs);
  EXPECT_EQ(platform::getAttributes(m, "C:\\WINDOWS\\User.dat"), rhs);
  EXPECT_EQ(leftBehind(), std::vector<std::string>{});
}

// On its first start the program stores a preference (the tip dialog's
// box) and registers the archive file type: neither may stop it.
TEST_P(FullDisk, TheProgramStartsWhenItsRegistryWritesFail) {
  const std::string user = hive("User.dat"), system = hive("System.dat");
  std::ofstream(mountPoint / "script.txt") << "click TipOfDay.SmartNetButton2\nclick frmIntro.SmartNetButton1\nclose\n";
  fill();
  regtest::Ran r = testsupport::run({BRAKVEL9X_SCRIPT, (mountPoint / "script.txt").string()}, 300s, {.machine = machine});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("dialog: frmGlavni\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nexit\n"), std::string::npos) << r.out;
  EXPECT_TRUE(hive("User.dat") == user);
  EXPECT_TRUE(hive("System.dat") == system);
}

INSTANTIATE_TEST_SUITE_P(Drives, FullDisk,
                         testing::Values(testsupport::DriveForm::Folder, testsupport::DriveForm::Image),
                         [](const auto& info) {
                           return info.param == testsupport::DriveForm::Image ? "DiskImage" : "HostFolder";
                         });

}  // namespace
