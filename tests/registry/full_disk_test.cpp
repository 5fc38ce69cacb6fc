// A machine whose drive C: is full, on a small file system of its own: a
// hive write fails and says so, the hive stays as it was with its
// attributes, and the program still starts.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/registry/registry.h"
#include "support.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using regtest::slurp;
using namespace std::chrono_literals;

namespace {

class FullDisk : public testing::Test {
 protected:
  void SetUp() override {
    if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=4m") != 0)
      GTEST_SKIP() << "a small file system cannot be mounted here (" << std::strerror(errno) << "); run as root";
    mounted = true;
    machine = mountPoint / "machine";
    regtest::Ran init = testsupport::run({MACHINE_EXE, "init", machine.string()}, 120s);
    ASSERT_EQ(init.status, 0) << init.out << init.err;
  }
  void TearDown() override {
    if (mounted) ::umount2(mountPoint.c_str(), MNT_DETACH);
  }

  // Takes every free byte of the file system.
  void fill() {
    int fd = ::open((mountPoint / "filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    std::string chunk(65536, 'f');
    for (size_t size = chunk.size(); size > 0;) {
      if (::write(fd, chunk.data(), size) < 0) size /= 2;
    }
    ::close(fd);
  }

  fs::path windows() const { return machine / "drive_c" / "WINDOWS"; }

  testsupport::TempDir base{"brakvel-full"};
  const fs::path mountPoint = base.path();
  fs::path machine;
  bool mounted = false;
};

TEST_F(FullDisk, AFailedHiveWriteKeepsTheHiveAndItsAttributes) {
  platform::Machine m = platform::Machine::open(machine);
  const uint8_t rhs = platform::kReadOnly | platform::kHidden | platform::kSystem;
  ASSERT_EQ(platform::getAttributes(m, "C:\\WINDOWS\\System.dat"), rhs);
  std::ofstream(machine / "drive_c" / "add.reg", std::ios::binary)
      << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Added]\r\n\"v\"=\"" << std::string(5000, 'v') << "\"\r\n";
  const std::string before = slurp(windows() / "System.dat");
  fill();

  regtest::Ran r = regtest::regedit(machine, {"/s", "C:\\add.reg"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("Disk full: C:\\WINDOWS\\System.dat"), std::string::npos) << r.err;
  platform::reg::Registry reg(m);
  EXPECT_EQ(reg.RegSetValue(platform::reg::HKEY_CURRENT_USER, "Software\\Big", std::string(9000, 'b')),
            platform::reg::ERROR_ACCESS_DENIED);
  EXPECT_NE(reg.lastError().find("Disk full: C:\\WINDOWS\\User.dat"), std::string::npos) << reg.lastError();

  EXPECT_TRUE(slurp(windows() / "System.dat") == before);
  EXPECT_EQ(platform::getAttributes(m, "C:\\WINDOWS\\System.dat"), rhs);
  EXPECT_EQ(platform::getAttributes(m, "C:\\WINDOWS\\User.dat"), rhs);
  for (const auto& e : fs::directory_iterator(windows()))
    EXPECT_EQ(e.path().filename().string().find(".~"), std::string::npos) << "left behind: " << e.path();
}

// On its first start the program stores a preference (the tip dialog's
// box) and registers the archive file type: neither may stop it.
TEST_F(FullDisk, TheProgramStartsWhenItsRegistryWritesFail) {
  const std::string user = slurp(windows() / "User.dat"), system = slurp(windows() / "System.dat");
  std::ofstream(mountPoint / "script.txt") << "click TipOfDay.SmartNetButton2\nclick frmIntro.SmartNetButton1\nclose\n";
  fill();
  regtest::Ran r = testsupport::run({BRAKVEL9X_SCRIPT, (mountPoint / "script.txt").string()}, 300s, {.machine = machine});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("dialog: frmGlavni\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nexit\n"), std::string::npos) << r.out;
  EXPECT_TRUE(slurp(windows() / "User.dat") == user);
  EXPECT_TRUE(slurp(windows() / "System.dat") == system);
}

}  // namespace
