// The archive lists and the Windows-backup list filled from real folders of
// a temporary machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TestMachine.h"
#include "app/frmGlavni.h"
#include "app/modListviewFill.h"
#include "platform/files.h"
#include "platform/registry/registry.h"

using testing::ElementsAre;

namespace {

const std::string kArchive = "C:\\Program Files\\Brakvel 9x\\archive";
const std::string kSysbckup = "C:\\WINDOWS\\Sysbckup";

class Lists : public testing::Test {
 protected:
  void SetUp() override {
    t.setSetting("Show Intro", "0");
    t.setSetting("Show Tips at Startup", "0");
  }
  const platform::Machine& m() { return *t.machine; }
  void file(const std::string& path, int day = 1) {
    platform::writeFile(m(), path, "x");
    platform::setLastModified(m(), path, platform::DateTime{2004, 3, day, 14, 5, 9});
  }
  std::string dateOf(int day) { return platform::formatDateTime(m(), platform::DateTime{2004, 3, day, 14, 5, 9}); }
  static std::vector<std::string> texts(const app::Control& list) {
    std::vector<std::string> out;
    for (const auto& r : list.rows()) out.push_back(r.text);
    return out;
  }
  static std::vector<std::string> keys(const app::Control& list) {
    std::vector<std::string> out;
    for (const auto& r : list.rows()) out.push_back(r.key);
    return out;
  }
  apptest::TestProgram t;
};

TEST(AddBackslash, AddsOnlyWhenMissing) {
  EXPECT_EQ(app::AddBackslash("C:\\x"), "C:\\x\\");
  EXPECT_EQ(app::AddBackslash("C:\\x\\"), "C:\\x\\");
  EXPECT_EQ(app::AddBackslash("C:\\"), "C:\\");
  EXPECT_EQ(app::AddBackslash(""), "\\");
}

TEST_F(Lists, ArchivesEndInLowerCaseKvtFoldersLeftOut) {
  file(kArchive + "\\b.kvt", 2);
  file(kArchive + "\\a.kvt", 1);
  file(kArchive + "\\C.KVT");  // a file of its own: the ending is compared with its letter case
  file(kArchive + "\\kvt", 3);
  file(kArchive + "\\x.old.kvt", 4);
  file(kArchive + "\\notes.txt");
  file(kArchive + "\\hidden.kvt", 5);
  platform::setAttributes(m(), kArchive + "\\hidden.kvt", platform::kHidden | platform::kReadOnly);
  platform::makeFolder(m(), kArchive + "\\old.kvt");
  t.program->start();
  auto& main = t.program->form<app::frmGlavni>();
  for (app::Control* list : {main.lvwRestore, main.lvwRescueDisk}) {
    EXPECT_THAT(texts(*list), ElementsAre("a.kvt", "b.kvt", "hidden.kvt", "kvt", "x.old.kvt"));
    EXPECT_EQ(list->rows()[0].key, kArchive + "\\a.kvt");
    EXPECT_EQ(list->rows()[1].subItem, dateOf(2));
    EXPECT_EQ(list->rows()[3].subItem, dateOf(3));
    for (const auto& r : list->rows()) EXPECT_EQ(r.icon, 2);
  }
}

TEST_F(Lists, FolderWithOrWithoutBackslashAndRepeatedFills) {
  file(kArchive + "\\a.kvt");
  app::Control& list = *t.program->form<app::frmGlavni>().lvwRestore;
  app::FillArchiveList(list, m(), kArchive + "\\", 2);
  auto withSlash = keys(list);
  app::FillArchiveList(list, m(), kArchive, 2);
  app::FillArchiveList(list, m(), kArchive, 2);
  EXPECT_EQ(keys(list), withSlash);
  EXPECT_THAT(withSlash, ElementsAre(kArchive + "\\a.kvt"));
  app::FillArchiveList(list, m(), "C:\\nowhere", 2);
  EXPECT_TRUE(list.rows().empty());
}

TEST_F(Lists, WindowsBackupsAreNamedByPosition) {
  file(kSysbckup + "\\rb003.cab", 3);
  file(kSysbckup + "\\rb001.cab", 1);
  file(kSysbckup + "\\rb002.CAB");
  file(kSysbckup + "\\setup.ini");
  file(kSysbckup + "\\zz.cab", 9);
  t.program->start();
  const app::Control& list = *t.program->form<app::frmGlavni>().lvwWinBackup;
  EXPECT_THAT(texts(list), ElementsAre("Winbackup1", "Winbackup2", "Winbackup3"));
  EXPECT_THAT(keys(list), ElementsAre(kSysbckup + "\\rb001.cab", kSysbckup + "\\rb003.cab", kSysbckup + "\\zz.cab"));
  EXPECT_EQ(list.rows()[2].subItem, dateOf(9));
  for (const auto& r : list.rows()) EXPECT_EQ(r.icon, 1);
}

TEST_F(Lists, ArchiveListsRefilledOnTheirScreensOnly) {
  t.program->start();
  auto& main = t.program->form<app::frmGlavni>();
  file(kArchive + "\\new.kvt");
  file(kSysbckup + "\\rb009.cab");
  main.tlbCmdWinBackup_Click();
  EXPECT_TRUE(main.lvwWinBackup->rows().empty());  // filled once, at opening
  EXPECT_TRUE(main.lvwRestore->rows().empty());
  main.tlbCmdRestore_Click();
  EXPECT_THAT(texts(*main.lvwRestore), ElementsAre("new.kvt"));
  EXPECT_TRUE(main.lvwRescueDisk->rows().empty());
  ASSERT_TRUE(main.SmartMenuXP1.userChoose("mnuScreenRescueDisk"));
  EXPECT_THAT(texts(*main.lvwRescueDisk), ElementsAre("new.kvt"));
}

}  // namespace
