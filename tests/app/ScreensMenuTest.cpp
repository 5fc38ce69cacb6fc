// Screen switching by toolbar and menu, and the menu's dispatch table.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TestMachine.h"
#include "app/frmGlavni.h"
#include "dialogs/frmAbout.h"

using testing::ElementsAre;

namespace {

class MainWindow : public testing::Test {
 protected:
  void SetUp() override {
    t.setSetting("Show Intro", "0");
    t.setSetting("Show Tips at Startup", "0");
    t.program->start();
    main = &t.program->form<app::frmGlavni>();
    t.newLines();
  }
  // Exactly one highlighted button and one checked View item, both of the
  // panel in front.
  void expectCurrent(app::Screen s) {
    const auto& info = app::screenInfo(s);
    int highlighted = 0;
    for (app::Control* b : main->toolbar) {
      bool current = b->name() == info.button;
      EXPECT_EQ(b->backColor(), current ? app::kHighlight : app::kButtonFace) << b->name();
      EXPECT_EQ(b->captionBackColor(), b->backColor()) << b->name();
      highlighted += b->backColor() == app::kHighlight;
    }
    EXPECT_EQ(highlighted, 1);
    int checked = 0;
    for (const auto& item : main->menu()->items()) {
      checked += item.checked;
      if (item.checked) {
        EXPECT_EQ(item.key, info.viewKey);
      }
    }
    EXPECT_EQ(checked, 1);
    EXPECT_EQ(main->frontFrame()->name(), info.panel);
  }

  apptest::TestProgram t;
  app::frmGlavni* main = nullptr;
};

TEST_F(MainWindow, EveryToolbarButtonSwitchesToItsScreen) {
  const int order[] = {3, 0, 6, 1, 4, 2, 5, 5, 0};
  for (int i : order) {
    auto s = static_cast<app::Screen>(i);
    main->toolbar[static_cast<size_t>(i)]->userClick();
    expectCurrent(s);
    auto lines = t.newLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], std::string("screen: ") + app::screenInfo(s).panel);
    if (s == app::Screen::ReinstallDisk) {
      EXPECT_THAT(lines, ElementsAre("screen: fraReinstallDisk", "help: 6"));
    } else {
      EXPECT_EQ(lines.size(), 1u);
    }
  }
}

TEST_F(MainWindow, EveryViewItemSwitchesAsItsToolbarButtonDoes) {
  for (int i = app::kScreenCount - 1; i >= 0; --i) {
    auto s = static_cast<app::Screen>(i);
    ASSERT_TRUE(main->menu()->userChoose(app::screenInfo(s).viewKey));
    expectCurrent(s);
    auto lines = t.newLines();
    std::string screen = std::string("screen: ") + app::screenInfo(s).panel;
    if (s == app::Screen::ReinstallDisk) {
      EXPECT_THAT(lines, ElementsAre(screen, "help: 6", screen));
    } else {
      EXPECT_THAT(lines, ElementsAre(screen, screen));
    }
  }
}

TEST_F(MainWindow, TheReinstallScreenShowsItsWarningOnEverySwitch) {
  const std::string warning =
      "Before any use of this disk you must seriously consider to backup :\r\n"
      "- your mail folders (see help for more instructions)\r\n"
      "- your Favorites folder\r\n"
      "- your system drivers (see help for more instructions)\r\n"
      "\r\n"
      "You must also have working CD with Windows version you want to \r\n"
      "install after deletition of your current Windows directory .";
  EXPECT_EQ(main->Label24->text(), "");
  main->tlbCmdReinstall_Click();
  EXPECT_EQ(main->Label24->text(), warning);
  EXPECT_EQ(main->Label24->foreColor(), app::Color::rgb(255, 0, 0));
  main->Label24->setText("");
  main->tlbCmdReinstall_Click();
  EXPECT_EQ(main->Label24->text(), warning);
  EXPECT_EQ(t.linesStartingWith("help: ").size(), 2u);
}

TEST_F(MainWindow, SwitchingKeepsWhatTheUserTyped) {
  main->txtComments->userType("my comment");
  main->tlbCmdSpy_Click();
  main->tlbCmdBackup_Click();
  EXPECT_EQ(main->txtComments->text(), "my comment");
  EXPECT_FALSE(main->cmdMakeBackup->enabled());
}

struct DispatchCase {
  const char* key;
  std::vector<std::string> lines;
  app::Screen screen;
};

class MenuDispatch : public MainWindow, public testing::WithParamInterface<DispatchCase> {};

TEST_P(MenuDispatch, HelpComesBeforeTheSwitch) {
  const DispatchCase& c = GetParam();
  main->tlbCmdSpy_Click();  // start elsewhere than any target
  t.newLines();
  ASSERT_TRUE(main->menu()->userChoose(c.key));
  EXPECT_EQ(t.newLines(), c.lines);
  expectCurrent(c.screen);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, MenuDispatch,
    testing::Values(
        DispatchCase{"mnuMakeNewBackup", {"help: 1", "screen: fraBackup"}, app::Screen::Backup},
        DispatchCase{"mnuImportWin", {"help: 2", "screen: fraWinBackup"}, app::Screen::WinBackup},
        DispatchCase{"mnuSystemDisk", {"help: 4", "screen: fraRescueDisk"}, app::Screen::RescueDisk},
        DispatchCase{"mnuRestoreManager", {"help: 3", "screen: fraRestore"}, app::Screen::Restore},
        DispatchCase{"mnuUndo", {"help: 5", "screen: fraUndo"}, app::Screen::Undo},
        DispatchCase{"mnuContents", {"help: contents"}, app::Screen::Spyware},
        // Menu-bar entries and separators do nothing.
        DispatchCase{"mnuBackup", {}, app::Screen::Spyware}, DispatchCase{"mnuRestore", {}, app::Screen::Spyware},
        DispatchCase{"keyView", {}, app::Screen::Spyware}, DispatchCase{"keyHelp", {}, app::Screen::Spyware},
        DispatchCase{"", {}, app::Screen::Spyware}),
    [](const testing::TestParamInfo<DispatchCase>& i) {
      return *i.param.key ? std::string(i.param.key) : std::string("separator");
    });

TEST_F(MainWindow, BothSeparatorsDoNothing) {
  main->tlbCmdUndo_Click();
  t.newLines();
  main->SmartMenuXP1_Click(4);
  main->SmartMenuXP1_Click(19);
  EXPECT_TRUE(t.newLines().empty());
  expectCurrent(app::Screen::Undo);
}

TEST_F(MainWindow, F1OpensTheHelpContents) {
  EXPECT_TRUE(main->menu()->userShortcut(app::kKeyF1));
  EXPECT_THAT(t.newLines(), ElementsAre("help: contents"));
}

TEST_F(MainWindow, SupportOnlineStartsTheSupportPageHidden) {
  // No START.EXE on this machine: the failure is passed over silently.
  ASSERT_TRUE(main->menu()->userChoose("mnuOnlineSupport"));
  EXPECT_THAT(t.newLines(), ElementsAre("start: hidden start http://www.vantrel.example/support/index.htm"));
  EXPECT_FALSE(t.program->ended());
}

TEST_F(MainWindow, AboutIsShownModallyAndLoadsAfreshEachTime) {
  int shown = 0;
  t.desktop.onModal = [&](app::Form& f) {
    ++shown;
    auto& about = dynamic_cast<app::frmAbout&>(f);
    EXPECT_EQ(about.caption(), "About Brakvel 9x");
    EXPECT_EQ(about.lblTitle->text(), "Brakvel 9x");
    EXPECT_EQ(about.lblVersion->text(), "Version 2.0.0");
    EXPECT_EQ(about.defaultButton(), about.cmdOK);
    EXPECT_EQ(about.cancelButton(), about.cmdOK);
    about.cmdOK->userClick();
  };
  main->menu()->userChoose("mnuAbout");
  main->menu()->userChoose("mnuAbout");
  EXPECT_EQ(shown, 2);
  EXPECT_THAT(t.newLines(), ElementsAre("dialog: frmAbout", "dialog: frmAbout"));
  EXPECT_EQ(t.program->loadedForm("frmAbout"), nullptr);
}

TEST_F(MainWindow, TheMenuHasItsTwentyOneItemsInOrder) {
  const auto& items = main->menu()->items();
  ASSERT_EQ(items.size(), 21u);
  struct Expect {
    const char* key;
    const char* parent;
    int kind, icon, shortcut;
    const char* caption;
  } expected[] = {
      {"mnuBackup", "", 0, 0, 0, "&Backup"},
      {"mnuMakeNewBackup", "mnuBackup", 1, 1, 0, "&Make new"},
      {"mnuImportWin", "mnuBackup", 0, 2, 0, "&Import from Windows"},
      {"", "mnuBackup", 3, 0, 0, ""},
      {"mnuSystemDisk", "mnuBackup", 0, 3, 0, "Make &automated system disk"},
      {"mnuRestore", "", 0, 0, 0, "&Restore"},
      {"mnuRestoreManager", "mnuRestore", 0, 4, 0, "Restore your &system"},
      {"mnuUndo", "mnuRestore", 0, 5, 0, "Undo Brakvel's &changes"},
      {"keyView", "", 0, 0, 0, "&View"},
      {"mnuScreenBackup", "keyView", 2, 0, 0, "&Backup screen"},
      {"mnuScreenWinBackup", "keyView", 2, 0, 0, "&Backup from Windows screen"},
      {"mnuScreenRestore", "keyView", 2, 0, 0, "&Restore screen"},
      {"mnuScreenRescueDisk", "keyView", 2, 0, 0, "&Rescue disk screen"},
      {"mnuScreenReinstallDisk", "keyView", 2, 0, 0, "&Reinstall disk screen"},
      {"mnuScreenSpyware", "keyView", 2, 0, 0, "&Spyware blocking management"},
      {"mnuScreenUndo", "keyView", 2, 0, 0, "&Undo screen"},
      {"keyHelp", "", 0, 0, 0, "&Help"},
      {"mnuContents", "keyHelp", 0, 6, 112, "&Contents..."},
      {"", "keyHelp", 3, 0, 0, ""},
      {"mnuOnlineSupport", "keyHelp", 0, 7, 0, "&Support online"},
      {"mnuAbout", "keyHelp", 0, 8, 0, "&About Brakvel..."},
  };
  for (size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i].key, expected[i].key) << i;
    EXPECT_EQ(items[i].parent, expected[i].parent) << i;
    EXPECT_EQ(items[i].kind, expected[i].kind) << i;
    EXPECT_EQ(items[i].icon, expected[i].icon) << i;
    EXPECT_EQ(items[i].shortcut, expected[i].shortcut) << i;
    if (items[i].kind != app::kMenuSeparator) {
      EXPECT_EQ(items[i].caption, expected[i].caption) << i;
    }
  }
  EXPECT_EQ(main->menu()->font().name, "Ms Sans Serif");
  EXPECT_EQ(main->menu()->font().size, 9);
}

}  // namespace
