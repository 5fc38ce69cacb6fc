// frmRestart in the Qt views, offscreen: its caption, label, three options
// and "Finish" as the form holds them.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QRadioButton>
#include <filesystem>

#include "TestMachine.h"
#include "restore/frmRestart.h"
#include "ui/qt/FormView.h"
#include "ui/qt/Look.h"
#include "ui/qt/QtDesktop.h"
#include "ui/qt/QtLoop.h"

namespace fs = std::filesystem;

namespace {

TEST(RestartView, ShowsTheQuestionTheOptionsAndFinish) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  int argc = 1;
  char arg0[] = "restartview";
  char* argv[] = {arg0, nullptr};
  QApplication qapp(argc, argv);
  qtui::setUpLook(qapp);
  testsupport::TestMachine tm(apptest::programMachine());
  {
    auto machine = tm.open();
    platform::reg::Registry registry(machine);
    platform::WindowTable windows;
    platform::Launcher launcher(machine, windows);
    qtui::QtLoop loop;
    qtui::QtDesktop desktop;
    desktop.quiet = true;
    app::Program program(app::Context{machine, registry, windows, launcher, loop, desktop,
                                      "C:\\Program Files\\Brakvel 9x", "Brakvel 9x"});
    auto& dialog = program.form<app::frmRestart>();
    dialog.Show(false);
    QApplication::processEvents();
    qtui::FormView* v = desktop.view(dialog);
    ASSERT_NE(v, nullptr);
    EXPECT_TRUE(v->isVisible());
    EXPECT_EQ(v->windowTitle(), "Brakvel 9x");
    auto* label = qobject_cast<QLabel*>(v->widgetFor(dialog.Label1));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "To finish restore it is necessary to reboot your computer.");
    const char* captions[] = {"Yes, reboot my computer now", "No, I'll reboot my computer later",
                              "No, cancel restore command"};
    for (int i = 0; i < 3; ++i) {
      auto* o = qobject_cast<QRadioButton*>(v->widgetFor(dialog.optFinish[static_cast<size_t>(i)]));
      ASSERT_NE(o, nullptr);
      EXPECT_EQ(o->text(), captions[i]);
      EXPECT_EQ(o->isChecked(), i == 0);
      if (i) {
        EXPECT_GT(o->y(), v->widgetFor(dialog.optFinish[static_cast<size_t>(i - 1)])->y());
      }
    }
    auto* finish = qobject_cast<QAbstractButton*>(v->widgetFor(dialog.SmartNetButton1));
    ASSERT_NE(finish, nullptr);
    EXPECT_EQ(finish->text(), "Finish");
    // "No, I'll reboot my computer later" chosen on screen closes the dialog.
    qobject_cast<QRadioButton*>(v->widgetFor(dialog.optFinish[1]))->click();
    EXPECT_EQ(dialog.optFinish[1]->value(), 1);
    finish->click();
    QApplication::processEvents();
    EXPECT_FALSE(dialog.loaded());
    desktop.dropViews();
  }
}

}  // namespace
