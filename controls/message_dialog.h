// The message dialog: the program's own message box.
//
// ShowMessage() takes a text, a caption and a style number read as a Windows message box style:
// the icon from the second hexadecimal digit (0 none, 16 error, 32 question, 48 warning,
// 64 information), the buttons from the lowest digit (0 OK, 1 OK Cancel, 2 Abort Retry Ignore,
// 3 Yes No Cancel, 4 Yes No, 5 Retry Cancel, 8 Retry Cancel Ignore); the default-button bits are
// not used. It answers the Windows button codes below. The caption is shown only when it
// differs from the program's title.
//
// One message at a time: a request made while a message is open (a nested event loop running a
// timer or a posted command) answers kIdCancel at once and shows nothing.
//
// Tests replace the dialog with a MessageAnswerer (ScopedMessageAnswerer), which sees every
// request that would have been shown and chooses the answer.
//
// Main (GUI) thread only.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

namespace hm::controls {

// The answers, as the Windows button codes.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdAbort = 3;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdIgnore = 5;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Style parts.
inline constexpr int kStyleError = 16;
inline constexpr int kStyleQuestion = 32;
inline constexpr int kStyleWarning = 48;
inline constexpr int kStyleInformation = 64;
inline constexpr int kStyleOk = 0;
inline constexpr int kStyleOkCancel = 1;
inline constexpr int kStyleAbortRetryIgnore = 2;
inline constexpr int kStyleYesNoCancel = 3;
inline constexpr int kStyleYesNo = 4;
inline constexpr int kStyleRetryCancel = 5;
inline constexpr int kStyleRetryCancelIgnore = 8;

// The caption that is not shown.
inline constexpr char kProgramTitle[] = "Hivemend";

enum class MessageIcon { kNone, kError, kQuestion, kWarning, kInformation };

struct MessageLayout {
  MessageIcon icon = MessageIcon::kNone;
  std::vector<int> buttons;  // answer codes, left to right
};

// What a style number shows. Unknown icon digits show no icon; unknown button digits show OK.
MessageLayout LayoutOfStyle(int style);
// The caption of a button answering `code` ("OK", "Cancel", "Abort", "Retry", "Ignore", "Yes",
// "No").
QString ButtonText(int code);
// The answer when the user dismisses the dialog without a button (Escape): Cancel when the
// layout has one, OK for a lone OK button, 0 when it cannot be dismissed.
int DismissAnswer(const MessageLayout& layout);
// `text` with Windows line ends ("\r\n", a lone "\r") as "\n".
QString DisplayText(const QString& text);

struct MessageRequest {
  QString text;
  QString caption;
  int style = 0;
};

// Answers messages instead of the dialog.
class MessageAnswerer {
 public:
  virtual ~MessageAnswerer() = default;
  virtual int Answer(const MessageRequest& request) = 0;
};

// Installs `answerer` for its lifetime (the previous one comes back at the end). Not owned.
class ScopedMessageAnswerer {
 public:
  explicit ScopedMessageAnswerer(MessageAnswerer* answerer);
  ~ScopedMessageAnswerer();
  ScopedMessageAnswerer(const ScopedMessageAnswerer&) = delete;
  ScopedMessageAnswerer& operator=(const ScopedMessageAnswerer&) = delete;

 private:
  MessageAnswerer* previous_;
};

// The window brought forward before a message (unless maximised) and used as the dialog's
// parent; null: the active window. Not owned; a destroyed window is forgotten.
void SetMessageMainWindow(QWidget* window);

// Shows the message and waits for the answer (a modal dialog). Pending events are processed
// first.
int ShowMessage(const QString& text, const QString& caption = QString::fromLatin1(kProgramTitle),
                int style = 0);
// True while a message is open.
bool MessageOpen();

}  // namespace hm::controls
