// Start-up sequence, the main window's opening checks and its closing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TestMachine.h"
#include "app/frmGlavni.h"
#include "dialogs/TipOfDay.h"
#include "dialogs/frmIntro.h"
#include "platform/files.h"

using apptest::TestProgram;
using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

struct StartCase {
  const char* showIntro;  // nullptr: absent
  const char* showTips;
  std::vector<std::string> dialogs;  // in the order they appear
  bool mainOpen;
  const char* storedIntro;  // after the start
  const char* storedTips;
};

class StartupTable : public testing::TestWithParam<StartCase> {};

TEST_P(StartupTable, WindowsAppearInOrderAndPreferencesAreKept) {
  const StartCase& c = GetParam();
  TestProgram t;
  if (c.showIntro) t.setSetting("Show Intro", c.showIntro);
  if (c.showTips) t.setSetting("Show Tips at Startup", c.showTips);
  std::vector<std::string> visibleDuringTips;
  t.desktop.onModal = [&](app::Form& f) {
    EXPECT_EQ(f.name(), "TipOfDay");
    for (app::Form* open : t.program->loadedForms())
      if (open->visible()) visibleDuringTips.push_back(open->name());
  };
  t.program->start();

  std::vector<std::string> dialogs;
  for (const auto& l : t.linesStartingWith("dialog: ")) dialogs.push_back(l.substr(8));
  EXPECT_THAT(dialogs, ElementsAreArray(c.dialogs));
  EXPECT_EQ(t.program->form<app::frmGlavni>().loaded(), c.mainOpen);
  EXPECT_EQ(t.setting("Show Intro"), c.storedIntro);
  EXPECT_EQ(t.setting("Show Tips at Startup"), c.storedTips);
  if (!visibleDuringTips.empty()) {
    // The tip dialog is over the intro, or over the main window.
    EXPECT_EQ(visibleDuringTips.back(), "TipOfDay");
    EXPECT_EQ(visibleDuringTips.front(), c.mainOpen ? "frmGlavni" : "frmIntro");
  }
  EXPECT_FALSE(t.program->ended());
}

const std::vector<std::string> kIntro = {"frmIntro"};
const std::vector<std::string> kIntroTips = {"frmIntro", "TipOfDay"};
const std::vector<std::string> kMain = {"frmGlavni"};
const std::vector<std::string> kMainTips = {"frmGlavni", "TipOfDay"};

INSTANTIATE_TEST_SUITE_P(
    IntroAndTips, StartupTable,
    testing::Values(
        StartCase{"0", "0", kMain, true, "0", "0"}, StartCase{"0", "1", kMainTips, true, "0", "1"},
        StartCase{"0", "2", kMain, true, "0", "2"}, StartCase{"0", nullptr, kMainTips, true, "0", "1"},
        StartCase{"1", "0", kIntro, false, "1", "0"}, StartCase{"1", "1", kIntroTips, false, "1", "1"},
        StartCase{"1", "2", kIntro, false, "1", "2"}, StartCase{"1", nullptr, kIntroTips, false, "1", "1"},
        StartCase{nullptr, "0", kIntro, false, "<absent>", "0"},
        StartCase{nullptr, "1", kIntroTips, false, "<absent>", "1"},
        StartCase{nullptr, "2", kIntro, false, "<absent>", "2"},
        StartCase{nullptr, nullptr, kIntroTips, false, "<absent>", "1"},
        // Text that is not a number reads as 1.
        StartCase{"yes", "0", kIntro, false, "yes", "0"}, StartCase{"0", "x1", kMainTips, true, "0", "1"},
        StartCase{" 0 ", "1.0", kMainTips, true, " 0 ", "1"}));

TEST(Startup, ClosingTheTipsShowsTheIntroEvenWhenItIsSwitchedOff) {
  TestProgram t;
  t.setSetting("Show Intro", "0");
  t.desktop.onModal = [&](app::Form& f) {
    auto& tips = dynamic_cast<app::TipOfDay&>(f);
    tips.SmartNetButton2->userClick();
  };
  t.program->start();
  auto& intro = t.program->form<app::frmIntro>();
  EXPECT_TRUE(intro.visible());
  EXPECT_TRUE(t.program->form<app::frmGlavni>().visible());
  EXPECT_THAT(t.linesStartingWith("dialog: "),
              ElementsAre("dialog: frmGlavni", "dialog: TipOfDay", "dialog: frmIntro"));
  EXPECT_EQ(t.program->loadedForm("TipOfDay"), nullptr);
}

TEST(Startup, ClosingTheTipsThroughTheTitleBarDoesNotShowTheIntro) {
  TestProgram t;
  t.setSetting("Show Intro", "0");
  t.desktop.onModal = [&](app::Form& f) { f.userClose(); };
  t.program->start();
  EXPECT_FALSE(t.program->form<app::frmIntro>().visible());
  EXPECT_TRUE(t.program->form<app::frmGlavni>().visible());
}

TEST(Startup, ContinueOpensTheMainWindowOnTheChosenScreen) {
  TestProgram t;
  t.setSetting("Show Tips at Startup", "0");
  t.program->start();
  auto& intro = t.program->form<app::frmIntro>();
  EXPECT_EQ(intro.chkDisplay->value(), 1);
  EXPECT_EQ(intro.optContinue[0]->value(), 1);
  EXPECT_EQ(intro.chkHelp->value(), 0);
  t.newLines();
  intro.SmartNetButton1->userClick();
  EXPECT_THAT(t.newLines(), ElementsAre("screen: fraBackup", "dialog: frmGlavni", "screen: fraBackup"));
  EXPECT_FALSE(intro.visible());
  EXPECT_TRUE(intro.loaded());
}

TEST(Startup, TheReinstallTaskWithHelpOpensTopicSixTwice) {
  TestProgram t;
  t.setSetting("Show Tips at Startup", "0");
  t.program->start();
  auto& intro = t.program->form<app::frmIntro>();
  intro.optContinue[5]->userClick();
  intro.chkHelp->userClick();
  t.newLines();
  intro.SmartNetButton1->userClick();
  EXPECT_THAT(t.newLines(), ElementsAre("screen: fraBackup", "dialog: frmGlavni", "screen: fraReinstallDisk",
                                        "help: 6", "help: 6"));
  EXPECT_EQ(t.program->form<app::frmGlavni>().currentScreen(), app::Screen::ReinstallDisk);
}

TEST(Startup, EveryTaskOpensItsScreenAndItsTopic) {
  const char* panels[] = {"fraBackup", "fraWinBackup", "fraRestore", "fraRescueDisk",
                          "fraUndo",   "fraReinstallDisk", "fraSpyware"};
  for (int i = 0; i < app::kIntroTaskCount; ++i) {
    TestProgram t;
    t.setSetting("Show Tips at Startup", "0");
    t.program->start();
    auto& intro = t.program->form<app::frmIntro>();
    intro.optContinue[static_cast<size_t>(i)]->userClick();
    intro.chkHelp->userClick();
    t.newLines();
    intro.SmartNetButton1->userClick();
    auto lines = t.newLines();
    ASSERT_GE(lines.size(), 4u) << i;
    EXPECT_EQ(lines[2], std::string("screen: ") + panels[i]) << i;
    EXPECT_EQ(lines.back(), "help: " + std::to_string(i + 1)) << i;
    EXPECT_EQ(t.program->form<app::frmGlavni>().frontFrame()->name(), panels[i]);
  }
}

TEST(Startup, UntickingTheIntroBoxStoresZeroAndTheNextRunGoesStraightToTheMainWindow) {
  TestProgram t;
  t.setSetting("Show Tips at Startup", "0");
  t.program->start();
  t.program->form<app::frmIntro>().chkDisplay->userClick();
  EXPECT_EQ(t.setting("Show Intro"), "0");
  t.program->form<app::frmIntro>().chkDisplay->userClick();
  EXPECT_EQ(t.setting("Show Intro"), "1");
}

TEST(Startup, ClosingTheIntroBeforeTheMainWindowExistsEndsTheProgram) {
  TestProgram t;
  t.setSetting("Show Tips at Startup", "0");
  t.program->start();
  t.program->form<app::frmIntro>().userClose();
  EXPECT_TRUE(t.program->ended());
  EXPECT_EQ(t.desktop.lines.back(), "exit");
  EXPECT_TRUE(t.program->loadedForms().empty());
}

TEST(Startup, ClosingTheMainWindowUnloadsTheHiddenIntroToo) {
  TestProgram t;
  t.setSetting("Show Intro", "0");
  t.setSetting("Show Tips at Startup", "0");
  t.program->start();
  auto& intro = t.program->form<app::frmIntro>();
  EXPECT_TRUE(intro.loaded());
  EXPECT_FALSE(intro.visible());
  t.program->form<app::frmGlavni>().userClose();
  EXPECT_TRUE(t.program->ended());
  EXPECT_TRUE(t.program->loadedForms().empty());
  EXPECT_EQ(t.desktop.lines.back(), "exit");
  // Nothing is written at the end.
  EXPECT_EQ(t.setting("Show Intro"), "0");
}

// --- opening checks ----------------------------------------------------------

const char* kOsMessage =
    "message: OS incompatibility | information | Thank you for your interest in Brakvel 9x .\\r\\n"
    "However ,you use NT based Windows operating system ,\\r\\nwhich this software doesn't support ."
    "\\r\\nPlease visit us at http://www.vantrel.example to evaluate our other products .";

TEST(Opening, NtBasedWindowsIsRefusedAndTheProgramEnds) {
  TestProgram t(apptest::programMachine().setVariable("OS", "Windows_NT"));
  t.setSetting("Show Intro", "0");
  t.program->start();
  EXPECT_THAT(t.desktop.lines, ElementsAre(kOsMessage, "exit"));
  EXPECT_TRUE(t.program->ended());
  // The tip dialog is not shown after the end, and nothing was written.
  EXPECT_EQ(t.setting("Show Tips at Startup"), "<absent>");
  EXPECT_EQ(platform::reg::changeNotifyCount(*t.machine, platform::reg::SHCNE_ASSOCCHANGED), 0);
}

TEST(Opening, OtherOperatingSystemValuesPass) {
  for (const char* os : {"", "Windows_98", "windows_nt"}) {
    auto o = apptest::programMachine();
    if (*os) o.setVariable("OS", os);
    TestProgram t(o);
    t.setSetting("Show Intro", "0");
    t.setSetting("Show Tips at Startup", "0");
    t.program->start();
    EXPECT_FALSE(t.program->ended()) << os;
    EXPECT_TRUE(t.linesStartingWith("message: ").empty()) << os;
    EXPECT_EQ(t.program->form<app::frmGlavni>().menu()->items().size(), 21u) << os;
  }
}

const char* kDriveMessage =
    "message: Wrong drive installation | exclamation | You must install Brakvel 9x on same drive "
    "where your \\r\\nWindows directory is located . Please reinstall Brakvel 9x .";

TEST(Opening, TheProgramMustBeOnTheWindowsDrive) {
  struct Case {
    const char* winDir;  // nullptr: unset
    const char* programFolder;
    bool refused;
  } cases[] = {
      {"C:\\WINDOWS", "D:\\Brakvel 9x", true},
      {nullptr, "C:\\Program Files\\Brakvel 9x", true},
      {"c:\\windows", "C:\\Program Files\\Brakvel 9x", true},  // exact comparison
      {"C:\\WINDOWS", "C:\\Program Files\\Brakvel 9x", false},
  };
  for (const Case& c : cases) {
    auto o = apptest::programMachine();
    if (c.winDir) o.setVariable("WinDir", c.winDir);
    else o.unsetVariable("WinDir");
    TestProgram t(o, c.programFolder);
    t.setSetting("Show Intro", "0");
    t.setSetting("Show Tips at Startup", "0");
    t.program->start();
    EXPECT_EQ(t.program->ended(), c.refused) << c.programFolder;
    if (c.refused) {
      EXPECT_THAT(t.desktop.lines, ElementsAre(kDriveMessage, "exit"));
    } else {
      EXPECT_THAT(t.desktop.lines, ElementsAre("screen: fraBackup", "dialog: frmGlavni"));
    }
  }
}

TEST(Opening, ClassesDatDecidesTheSystemFileSet) {
  {
    TestProgram t;
    platform::writeFile(*t.machine, "C:\\WINDOWS\\CLASSES.DAT", "REGEDIT4\r\n\r\n");
    platform::setAttributes(*t.machine, "C:\\WINDOWS\\Classes.dat",
                            platform::kHidden | platform::kSystem | platform::kReadOnly);
    t.setSetting("Show Intro", "0");
    t.setSetting("Show Tips at Startup", "0");
    t.program->start();
    EXPECT_TRUE(t.program->form<app::frmGlavni>().HasClassesDat);
    platform::setAttributes(*t.machine, "C:\\WINDOWS\\Classes.dat", platform::kNormal);
  }
  {
    TestProgram t;
    t.setSetting("Show Intro", "0");
    t.setSetting("Show Tips at Startup", "0");
    t.program->start();
    EXPECT_FALSE(t.program->form<app::frmGlavni>().HasClassesDat);
  }
}

TEST(Opening, TheWindowOpensOnTheBackupScreen) {
  TestProgram t;
  t.setSetting("Show Intro", "0");
  t.setSetting("Show Tips at Startup", "0");
  t.program->start();
  auto& main = t.program->form<app::frmGlavni>();
  EXPECT_EQ(main.caption(), "Brakvel 9x");
  EXPECT_EQ(main.frontFrame()->name(), "fraBackup");
  EXPECT_EQ(main.toolbar[0]->backColor(), app::kHighlight);
  EXPECT_EQ(main.toolbar[0]->captionBackColor(), app::kHighlight);
  for (int i = 1; i < app::kScreenCount; ++i) EXPECT_EQ(main.toolbar[static_cast<size_t>(i)]->backColor(), app::kButtonFace);
  int checked = 0;
  for (const auto& item : main.menu()->items()) checked += item.checked;
  EXPECT_EQ(checked, 1);
  EXPECT_EQ(main.menu()->find("mnuScreenBackup")->checked, 1);
  EXPECT_EQ(main.SBar->text(), "");
  for (platform::Timer* timer : main.timers()) EXPECT_FALSE(timer->enabled()) << timer->name();
}

}  // namespace
