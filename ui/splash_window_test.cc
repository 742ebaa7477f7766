#include "ui/splash_window.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "controls/gui_test_app.h"

namespace hm::ui {
namespace {

TEST(SplashWindowTest, ClosesItselfAfterItsTimerAndAsksTheWindowToGoOn) {
  controls::testing::GuiTestApp();
  int posted = 0;
  QPointer<TfmSplash> splash = TfmSplash::ShowSplash("0.1.0.0", nullptr, [&] { ++posted; });
  ASSERT_TRUE(splash);
  EXPECT_TRUE(splash->isVisible());
  EXPECT_EQ(splash->size(), QSize(484, 259));
  EXPECT_TRUE(splash->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(splash->findChild<QLabel*>("hmSplashLoading")->text(), "Loading . . .");
  EXPECT_EQ(splash->findChild<QLabel*>("hmSplashVersion")->text(), "v. 0.1.0.0");
  EXPECT_EQ(splash->findChild<QPushButton*>(), nullptr);
  EXPECT_TRUE(splash->CloseTimer().isActive());
  EXPECT_EQ(splash->CloseTimer().interval(), 2000);
  // Freed on close.
  EXPECT_TRUE(QTest::qWaitFor([&] { return splash.isNull(); }, 5000));
  EXPECT_EQ(posted, 1);
}

TEST(SplashWindowTest, AboutBoxIsModalWithACloseButton) {
  controls::testing::GuiTestApp();
  TfmSplash about("2.5.1.0", TfmSplash::kAbout);
  EXPECT_EQ(about.findChild<QLabel*>("hmSplashLoading"), nullptr);
  EXPECT_EQ(about.findChild<QLabel*>("hmSplashVersion")->text(), "v. 2.5.1.0");
  QTimer::singleShot(20, [&] {
    EXPECT_TRUE(about.isModal());
    QTest::mouseClick(about.findChild<QPushButton*>("hmAboutClose"), Qt::LeftButton);
  });
  EXPECT_EQ(about.exec(), QDialog::Accepted);
  EXPECT_FALSE(about.CloseTimer().isActive());  // the About box never closes by itself
}

}  // namespace
}  // namespace hm::ui
