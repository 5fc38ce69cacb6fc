// The Qt views offscreen: what they show is what the forms hold.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTreeWidget>
#include <filesystem>
#include <vector>

#include "LocalHttpServer.h"
#include "TestMachine.h"
#include "app/frmGlavni.h"
#include "platform/net/http.h"
#include "platform/net/internet.h"
#include "spyware/FileConverter.h"
#include "dialogs/frmIntro.h"
#include "ui/qt/FormView.h"
#include "ui/qt/Look.h"
#include "ui/qt/QtDesktop.h"
#include "ui/qt/QtLoop.h"

namespace fs = std::filesystem;

namespace {

class QtViews : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char arg0[] = "qtviews";
    static char* argv[] = {arg0, nullptr};
    static QApplication* qapp = new QApplication(argc, argv);
    qtui::setUpLook(*qapp);
  }
  void SetUp() override {
    machine.emplace(tm.open());
    registry = std::make_unique<platform::reg::Registry>(*machine);
    launcher = std::make_unique<platform::Launcher>(*machine, windows);
    desktop.quiet = true;
    program = std::make_unique<app::Program>(app::Context{*machine, *registry, windows, *launcher, loop, desktop,
                                                          "C:\\Program Files\\Brakvel 9x", "Brakvel 9x"});
  }
  void TearDown() override {
    desktop.dropViews();
    program.reset();
    launcher.reset();
    registry.reset();
    machine.reset();
  }
  app::frmGlavni& openMain() {
    platform::SaveSetting(*machine, "Brakvel 9x", "Options", "Show Intro", "0");
    platform::SaveSetting(*machine, "Brakvel 9x", "Options", "Show Tips at Startup", "0");
    program->start();
    QApplication::processEvents();
    return program->form<app::frmGlavni>();
  }
  QColor pixel(QWidget* w, int x, int y) { return w->grab().toImage().pixelColor(x, y); }

  testsupport::TestMachine tm{apptest::programMachine()};
  const fs::path dir = tm.dir();
  std::optional<platform::Machine> machine;
  std::unique_ptr<platform::reg::Registry> registry;
  platform::WindowTable windows;
  std::unique_ptr<platform::Launcher> launcher;
  qtui::QtLoop loop;
  qtui::QtDesktop desktop;
  std::unique_ptr<app::Program> program;
};

TEST_F(QtViews, EveryControlSitsWhereTheFormPutsIt) {
  app::frmGlavni& main = openMain();
  qtui::FormView* v = desktop.view(main);
  ASSERT_NE(v, nullptr);
  EXPECT_TRUE(v->isVisible());
  EXPECT_EQ(v->size(), QSize(625, 569));
  EXPECT_EQ(v->windowTitle(), "Brakvel 9x");
  for (const auto& c : main.controls()) {
    QWidget* w = v->widgetFor(c.get());
    ASSERT_NE(w, nullptr) << c->name();
    if (c->kind() == app::ControlKind::Line) {
      EXPECT_EQ(w->geometry().topLeft(), QPoint(c->x(), c->y())) << c->name();
    } else {
      EXPECT_EQ(w->geometry(), QRect(c->x(), c->y(), c->width(), c->height())) << c->name();
    }
    QWidget* expectedParent = c->container() ? v->widgetFor(c->container()) : v;
    EXPECT_EQ(w->parentWidget(), expectedParent) << c->name();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      EXPECT_EQ(b->text().toStdString(), c->text()) << c->name();
      EXPECT_EQ(b->isEnabled(), c->enabled()) << c->name();
    }
    if (auto* l = qobject_cast<QLabel*>(w); l && c->kind() == app::ControlKind::Label) {
      EXPECT_EQ(l->text().toStdString(), c->text()) << c->name();
    }
  }
  // The fonts at 96 dots per inch.
  QWidget* heading = v->widgetFor(main.control("Label2"));
  EXPECT_EQ(heading->font().pixelSize(), 13);
  EXPECT_TRUE(heading->font().bold());
  EXPECT_EQ(v->widgetFor(main.control("Label1"))->font().pixelSize(), 11);
}

TEST_F(QtViews, TheToolbarAndMenuShowTheCurrentScreen) {
  app::frmGlavni& main = openMain();
  qtui::FormView* v = desktop.view(main);
  auto faceOf = [&](int i) { return pixel(v->widgetFor(main.toolbar[static_cast<size_t>(i)]), 3, 50); };
  EXPECT_EQ(faceOf(0), QColor(222, 198, 173));
  EXPECT_EQ(faceOf(1), QApplication::palette().color(QPalette::Button));

  // The View menu's Spyware item, as the user picks it.
  int spyItem = 0;
  for (size_t i = 0; i < main.menu()->items().size(); ++i)
    if (main.menu()->items()[i].key == "mnuScreenSpyware") spyItem = static_cast<int>(i + 1);
  QAction* spy = v->menuAction(spyItem);
  ASSERT_NE(spy, nullptr);
  spy->trigger();
  QApplication::processEvents();
  EXPECT_EQ(main.frontFrame()->name(), "fraSpyware");
  EXPECT_EQ(faceOf(5), QColor(222, 198, 173));
  EXPECT_EQ(faceOf(0), QApplication::palette().color(QPalette::Button));
  for (size_t i = 0; i < main.menu()->items().size(); ++i) {
    const auto& item = main.menu()->items()[i];
    QAction* a = v->menuAction(static_cast<int>(i + 1));
    if (item.kind == app::kMenuCheck) {
      ASSERT_NE(a, nullptr);
      EXPECT_EQ(a->isChecked(), item.key == "mnuScreenSpyware") << item.key;
    }
    if (item.icon > 0) {
      ASSERT_NE(a, nullptr);
      EXPECT_FALSE(a->icon().isNull()) << item.key;
    }
  }
  EXPECT_EQ(v->menuAction(18)->shortcut(), QKeySequence(Qt::Key_F1));
  // The panel in front is the one a click at its middle reaches.
  QWidget* hit = v->childAt(300, 400);
  ASSERT_NE(hit, nullptr);
  QWidget* panel = v->widgetFor(main.control("fraSpyware"));
  EXPECT_TRUE(hit == panel || panel->isAncestorOf(hit));
  // Highlight colour behind the spyware list box, text in the text colour.
  QWidget* box = v->widgetFor(main.txtSpyList);
  EXPECT_EQ(box->palette().color(QPalette::Base), QColor(222, 198, 173));
  EXPECT_EQ(box->palette().color(QPalette::Text), QColor(128, 64, 64));
  EXPECT_EQ(v->widgetFor(main.control("Label24"))->palette().color(QPalette::WindowText), QColor(255, 0, 0));
}

TEST_F(QtViews, TextAndStatusGoBothWays) {
  app::frmGlavni& main = openMain();
  qtui::FormView* v = desktop.view(main);
  auto* edit = qobject_cast<QPlainTextEdit*>(v->widgetFor(main.txtComments));
  ASSERT_NE(edit, nullptr);
  int changes = 0;
  main.txtComments->Change = [&] { ++changes; };
  edit->setPlainText(QString::fromUtf8("first line\nsecond \xc3\xa9"));
  EXPECT_EQ(main.txtComments->text(), "first line\r\nsecond \xe9");
  EXPECT_GE(changes, 1);
  main.txtSystemInfo->setText("a\r\nb");
  EXPECT_EQ(qobject_cast<QPlainTextEdit*>(v->widgetFor(main.txtSystemInfo))->toPlainText(), "a\nb");
  main.SBar->setText("Done .");
  EXPECT_EQ(qobject_cast<QLabel*>(v->widgetFor(main.SBar))->text(), "Done .");
  main.lvwRestore->addRow({"C:\\X\\a.kvt", "a.kvt", "1/2/2004 3:04:05 PM", 2});
  auto* list = qobject_cast<QTreeWidget*>(v->widgetFor(main.lvwRestore));
  ASSERT_EQ(list->topLevelItemCount(), 1);
  EXPECT_EQ(list->topLevelItem(0)->text(0), "a.kvt");
  EXPECT_EQ(list->topLevelItem(0)->text(1), "1/2/2004 3:04:05 PM");
  EXPECT_EQ(list->headerItem()->text(0), "Name");
  EXPECT_EQ(list->columnWidth(0), 97);
  EXPECT_EQ(list->columnWidth(1), 73);
}

TEST_F(QtViews, TheIntroShowsItsTasksAndTheCheckedBoxes) {
  program->start();
  QApplication::processEvents();
  auto& intro = program->form<app::frmIntro>();
  qtui::FormView* v = desktop.view(intro);
  ASSERT_NE(v, nullptr);
  EXPECT_TRUE(v->isVisible());
  auto* first = qobject_cast<QRadioButton*>(v->widgetFor(intro.optContinue[0]));
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->isChecked());
  EXPECT_EQ(first->text(), "Make Brakvel 9x backup");
  EXPECT_TRUE(qobject_cast<QCheckBox*>(v->widgetFor(intro.chkDisplay))->isChecked());
  EXPECT_FALSE(qobject_cast<QCheckBox*>(v->widgetFor(intro.chkHelp))->isChecked());
  // A click on the view reaches the form.
  qobject_cast<QRadioButton*>(v->widgetFor(intro.optContinue[3]))->click();
  EXPECT_EQ(intro.optContinue[3]->value(), 1);
  EXPECT_EQ(intro.optContinue[0]->value(), 0);
  EXPECT_FALSE(first->isChecked());
}

}  // namespace

namespace {

struct Connected : platform::net::InternetProvider {
  bool getConnectedState(uint32_t* flags, char* name, uint32_t size) override {
    *flags = platform::net::INTERNET_CONNECTION_LAN;
    if (size > 0) name[0] = '\0';
    return true;
  }
  bool setOption(uint32_t, const platform::net::ConnectedStateInfo&) override { return false; }
};

// The texts a label showed each time it was painted.
struct PaintedTexts : QObject {
  std::vector<std::string> texts;
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Paint) texts.push_back(qobject_cast<QLabel*>(o)->text().toStdString());
    return false;
  }
};

}  // namespace

// While a slow server sends the definitions, the window goes on painting
// and its status line shows how much has arrived.
TEST_F(QtViews, TheWindowPaintsWhileTheUpdateRuns) {
  const std::string domains =
      "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Domains\\x.com";
  std::string list;
  for (int i = 0; i < 20; ++i) list += "Gator\r\n";
  LocalHttpServer server;
  server.set("/spydef/antispy.enc", {200, spyware::ConvertString("REGEDIT4\r\n[" + domains + "]\r\n\"*\"=dword:00000004\r\n")});
  server.set("/spydef/spylist.enc", {200, spyware::ConvertString(list), false, 0, 10});
  server.set("/spydef/undospy.enc", {200, spyware::ConvertString("REGEDIT4\r\n[" + domains + "]\r\n\"*\"=-\r\n")});
  platform::Machine::open(dir).setIni("Internet", "UpdateServer", server.baseUrl());
  Connected internet;
  platform::net::HostHttp http;
  program->context().internet = &internet;
  program->context().http = &http;
  app::frmGlavni& main = openMain();
  auto* status = qobject_cast<QLabel*>(desktop.view(main)->widgetFor(main.SBar));
  ASSERT_NE(status, nullptr);
  PaintedTexts painted;
  status->installEventFilter(&painted);
  main.cmdInternetUpdate->userClick();
  status->removeEventFilter(&painted);
  EXPECT_GE(std::count_if(painted.texts.begin(), painted.texts.end(),
                          [](const std::string& t) { return t.ends_with(" bytes received"); }),
            2)
      << painted.texts.size() << " paints";
  EXPECT_EQ(main.txtSpyList->text().empty(), false);
}
