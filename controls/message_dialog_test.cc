#include "controls/message_dialog.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "controls/gui_test_app.h"

namespace hm::controls {
namespace {

using testing::GuiTestApp;
using testing::OpenModal;

struct StyleCase {
  int style;
  MessageIcon icon;
  std::vector<int> buttons;
};

TEST(MessageDialogTest, StylesReadAsMessageBoxStyles) {
  const StyleCase cases[] = {
      {0, MessageIcon::kNone, {kIdOk}},
      {1, MessageIcon::kNone, {kIdOk, kIdCancel}},
      {16, MessageIcon::kError, {kIdOk}},
      {18, MessageIcon::kError, {kIdAbort, kIdRetry, kIdIgnore}},
      {35, MessageIcon::kQuestion, {kIdYes, kIdNo, kIdCancel}},
      {36, MessageIcon::kQuestion, {kIdYes, kIdNo}},
      {48, MessageIcon::kWarning, {kIdOk}},
      {51, MessageIcon::kWarning, {kIdYes, kIdNo, kIdCancel}},
      {56, MessageIcon::kWarning, {kIdRetry, kIdCancel, kIdIgnore}},
      {64, MessageIcon::kInformation, {kIdOk}},
      {69, MessageIcon::kInformation, {kIdRetry, kIdCancel}},
      // The default-button bits change nothing.
      {308, MessageIcon::kWarning, {kIdYes, kIdNo}},
      // Digits that mean nothing here: no icon, a lone OK.
      {0x57, MessageIcon::kNone, {kIdOk}},
  };
  for (const StyleCase& c : cases) {
    const MessageLayout layout = LayoutOfStyle(c.style);
    EXPECT_EQ(layout.icon, c.icon) << c.style;
    EXPECT_EQ(layout.buttons, c.buttons) << c.style;
  }
}

TEST(MessageDialogTest, DismissAnswers) {
  EXPECT_EQ(DismissAnswer(LayoutOfStyle(0)), kIdOk);
  EXPECT_EQ(DismissAnswer(LayoutOfStyle(35)), kIdCancel);
  EXPECT_EQ(DismissAnswer(LayoutOfStyle(56)), kIdCancel);
  EXPECT_EQ(DismissAnswer(LayoutOfStyle(36)), 0);  // Yes or No must be chosen
  EXPECT_EQ(DismissAnswer(LayoutOfStyle(18)), 0);
}

TEST(MessageDialogTest, WindowsLineEndsBecomeLines) {
  EXPECT_EQ(DisplayText("a.\r\rb\r\nc"), QString("a.\n\nb\nc"));
}

class FunctionAnswerer : public MessageAnswerer {
 public:
  explicit FunctionAnswerer(std::function<int(const MessageRequest&)> f) : f_(std::move(f)) {}
  int Answer(const MessageRequest& request) override { return f_(request); }

 private:
  std::function<int(const MessageRequest&)> f_;
};

TEST(MessageDialogTest, ARequestWhileOneIsOpenAnswersCancelWithoutShowing) {
  GuiTestApp();
  int asked = 0;
  int inner = -1;
  FunctionAnswerer answerer([&](const MessageRequest& request) {
    ++asked;
    EXPECT_TRUE(MessageOpen());
    if (request.text == "outer") inner = ShowMessage("inner", "Hivemend", 36);
    return kIdYes;
  });
  ScopedMessageAnswerer scope(&answerer);
  EXPECT_EQ(ShowMessage("outer", "Hivemend", 36), kIdYes);
  EXPECT_EQ(inner, kIdCancel);
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(MessageOpen());
  EXPECT_EQ(ShowMessage("again", "Hivemend", 0), kIdYes);
  EXPECT_EQ(asked, 2);
}

// Runs `act` on the dialog once it is open.
void WhenOpen(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer();
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (QWidget* dialog = OpenModal()) {
      timer->stop();
      timer->deleteLater();
      act(dialog);
    }
  });
  timer->start();
}

TEST(MessageDialogTest, Style56ShowsRetryCancelIgnoreAndAnswersTheClickedButton) {
  GuiTestApp();
  QStringList texts;
  WhenOpen([&](QWidget* dialog) {
    for (auto* b : dialog->findChildren<QPushButton*>()) texts << b->text();
    QTest::mouseClick(dialog->findChild<QPushButton*>("hmAnswer5"), Qt::LeftButton);
  });
  EXPECT_EQ(ShowMessage("Cannot write.", "Hivemend", 56), kIdIgnore);
  EXPECT_EQ(texts, QStringList({"Retry", "Cancel", "Ignore"}));
}

TEST(MessageDialogTest, CaptionShownOnlyWhenItIsNotTheTitle) {
  GuiTestApp();
  for (const QString& caption : {QString("Hivemend"), QString("Running in a low privileges mode")}) {
    QString shown = "none";
    WhenOpen([&](QWidget* dialog) {
      if (auto* label = dialog->findChild<QLabel*>("hmMessageCaption")) shown = label->text();
      QTest::keyClick(dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(ShowMessage("text", caption, 48), kIdOk);
    EXPECT_EQ(shown, caption == "Hivemend" ? QString("none") : caption);
  }
}

TEST(MessageDialogTest, EscapeDoesNotDismissYesNo) {
  GuiTestApp();
  bool still_open = false;
  WhenOpen([&](QWidget* dialog) {
    QTest::keyClick(dialog, Qt::Key_Escape);
    still_open = dialog->isVisible();
    QTest::mouseClick(dialog->findChild<QPushButton*>("hmAnswer7"), Qt::LeftButton);
  });
  EXPECT_EQ(ShowMessage("Quit?", "Hivemend", 36), kIdNo);
  EXPECT_TRUE(still_open);
}

TEST(MessageDialogTest, ATimerAskingWhileTheDialogIsOpenGetsCancel) {
  GuiTestApp();
  int from_timer = -1;
  WhenOpen([&](QWidget* dialog) {
    from_timer = ShowMessage("second", "Hivemend", 0);
    QTest::mouseClick(dialog->findChild<QPushButton*>("hmAnswer1"), Qt::LeftButton);
  });
  EXPECT_EQ(ShowMessage("first", "Hivemend", 0), kIdOk);
  EXPECT_EQ(from_timer, kIdCancel);
}

}  // namespace
}  // namespace hm::controls
