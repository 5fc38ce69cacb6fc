// The tip of the day and the about box.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TestMachine.h"
#include "dialogs/TipOfDay.h"
#include "dialogs/frmAbout.h"

using testing::ElementsAre;

namespace {

TEST(Tips, TwelveTipsInOrderThenRoundAgain) {
  apptest::TestProgram t;
  std::vector<std::string> numbers, texts;
  t.desktop.onModal = [&](app::Form& f) {
    auto& tips = dynamic_cast<app::TipOfDay&>(f);
    EXPECT_EQ(tips.caption(), "Tip of the Day");
    EXPECT_EQ(tips.chkLoadTipsAtStartup->value(), 1);
    for (int i = 0; i < 13; ++i) {
      numbers.push_back(tips.Label2->text());
      texts.push_back(tips.LblTip->text());
      tips.SmartNetButton1->userClick();
    }
  };
  t.program->start();
  ASSERT_EQ(numbers.size(), 13u);
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(numbers[static_cast<size_t>(i)], std::to_string(i + 1));
    EXPECT_EQ(texts[static_cast<size_t>(i)], app::tipText(i + 1));
  }
  EXPECT_EQ(numbers[12], "1");
  EXPECT_EQ(texts[12], app::tipText(1));
  EXPECT_EQ(app::tipText(9), "Brakvel 9x is safe,controlled,easy to use even for novices. ");
  EXPECT_EQ(app::tipText(12),
            "Through it's algorithms Brakvel 9x will automatically determine which Windows you run and "
            "pick appropriate vital system files for backup .");
  // Opening the dialog stored "1".
  EXPECT_EQ(t.setting("Show Tips at Startup"), "1");
}

TEST(Tips, TheBoxStoresItsStateAndEachOpeningStartsAtTipOne) {
  apptest::TestProgram t;
  t.desktop.onModal = [&](app::Form& f) {
    auto& tips = dynamic_cast<app::TipOfDay&>(f);
    tips.SmartNetButton1->userClick();
    tips.chkLoadTipsAtStartup->userClick();
    EXPECT_EQ(t.setting("Show Tips at Startup"), "0");
    tips.chkLoadTipsAtStartup->userClick();
    EXPECT_EQ(t.setting("Show Tips at Startup"), "1");
    tips.chkLoadTipsAtStartup->userClick();
    tips.SmartNetButton2->userClick();
  };
  t.program->start();
  EXPECT_EQ(t.setting("Show Tips at Startup"), "0");
  EXPECT_EQ(t.program->loadedForm("TipOfDay"), nullptr);
  // A fresh dialog counts from the start again.
  auto& again = t.program->form<app::TipOfDay>();
  EXPECT_EQ(again.CurrentTip, 0);
}

TEST(About, WithoutTheSystemInformationToolItSaysSoAndStaysOpen) {
  apptest::TestProgram t;
  t.setSetting("Show Intro", "0");
  t.setSetting("Show Tips at Startup", "0");
  t.program->start();
  t.newLines();
  bool stillOpen = false;
  t.desktop.onModal = [&](app::Form& f) {
    auto& about = dynamic_cast<app::frmAbout&>(f);
    about.cmdSysInfo->userClick();
    stillOpen = about.visible();
    about.cmdOK->userClick();
  };
  t.program->form<app::frmAbout>().Show(true);
  EXPECT_TRUE(stillOpen);
  EXPECT_THAT(t.newLines(), ElementsAre("dialog: frmAbout",
                                        "message: Brakvel 9x | none | System Information Is Unavailable At This Time"));
}

class SysInfo : public testing::Test {
 protected:
  void SetUp() override {
    t.setSetting("Show Intro", "0");
    t.setSetting("Show Tips at Startup", "0");
    t.program->start();
    about = &t.program->form<app::frmAbout>();
    t.program->load(*about);
    t.newLines();
  }
  void setValue(const char* key, const char* name, uint32_t type, const std::string& data) {
    platform::reg::HKEY h = 0;
    ASSERT_EQ(t.registry->RegCreateKey(platform::reg::HKEY_LOCAL_MACHINE, key, &h), 0);
    ASSERT_EQ(t.registry->RegSetValueEx(h, name, type, data), 0);
    t.registry->RegCloseKey(h);
  }
  apptest::TestProgram t;
  app::frmAbout* about = nullptr;
};

TEST_F(SysInfo, GetKeyValueReadsTextAndNumbers) {
  using namespace platform::reg;
  setValue("SOFTWARE\\Test", "withNul", REG_SZ, std::string("C:\\TOOLS\\X.EXE\0", 15));
  setValue("SOFTWARE\\Test", "withoutNul", REG_SZ, "C:\\TOOLS");
  setValue("SOFTWARE\\Test", "number", REG_DWORD, std::string("\x2a\x01\x00\x00", 4));
  setValue("SOFTWARE\\Test", "binary", REG_BINARY, "\x01\x02");
  std::string v = "kept";
  EXPECT_TRUE(about->GetKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "withNul", v));
  EXPECT_EQ(v, "C:\\TOOLS\\X.EXE");
  EXPECT_TRUE(about->GetKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "withoutNul", v));
  EXPECT_EQ(v, "C:\\TOOLS");
  EXPECT_TRUE(about->GetKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "number", v));
  EXPECT_EQ(v, "298");
  v = "kept";
  EXPECT_TRUE(about->GetKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "binary", v));
  EXPECT_EQ(v, "kept");
  EXPECT_FALSE(about->GetKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "missing", v));
  EXPECT_EQ(v, "");
  v = "kept";
  EXPECT_FALSE(about->GetKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", "PATH", v));
  EXPECT_EQ(v, "");
}

TEST_F(SysInfo, ThePathValueIsStartedWithoutACheck) {
  setValue("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH", platform::reg::REG_SZ,
           std::string("C:\\NOWHERE\\MSINFO32.EXE\0", 24));
  about->cmdSysInfo_Click();
  EXPECT_THAT(t.newLines(), ElementsAre("start: normal-focus C:\\NOWHERE\\MSINFO32.EXE",
                                        "message: Brakvel 9x | none | System Information Is Unavailable At This Time"));
}

TEST_F(SysInfo, TheFolderValueIsUsedOnlyWhenTheToolIsThere) {
  setValue("SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO", platform::reg::REG_SZ,
           std::string("C:\\PROGRA~1\\MSINFO\0", 19));
  about->cmdSysInfo_Click();
  EXPECT_THAT(t.newLines(),
              ElementsAre("message: Brakvel 9x | none | System Information Is Unavailable At This Time"));
}

TEST_F(SysInfo, APathOfAnotherTypeEndsInTheMessageWithoutTryingTheFolder) {
  setValue("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH", platform::reg::REG_BINARY, "\x01");
  setValue("SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO", platform::reg::REG_SZ, "C:\\WINDOWS");
  about->cmdSysInfo_Click();
  auto lines = t.newLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("start: normal-focus", 0), 0u);
  EXPECT_EQ(lines[1], "message: Brakvel 9x | none | System Information Is Unavailable At This Time");
}

}  // namespace
