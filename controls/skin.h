// The program's look: its colours, the sizes its controls share and the application style sheet.
//
// Sizes are device-independent pixels (Qt scales them for high-density screens), so the
// program reads the same at 96 and at 144 dots per inch.
//
// Main (GUI) thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QApplication;

namespace hm::controls::skin {

// Colours.
inline const QColor kHeaderTop{0x1d, 0x2b, 0x3a};
inline const QColor kHeaderBottom{0x12, 0x1c, 0x27};
inline const QColor kAccent{0xf2, 0xa3, 0x1b};       // the amber of the logo and selection bar
inline const QColor kAccentDark{0xc9, 0x7f, 0x06};
inline const QColor kBodyBackground{0xf3, 0xf5, 0xf8};
inline const QColor kPanelTop{0xff, 0xff, 0xff};
inline const QColor kPanelBottom{0xe9, 0xee, 0xf3};
inline const QColor kPanelBorder{0xd3, 0xda, 0xe2};
inline const QColor kText{0x1f, 0x2d, 0x3d};
inline const QColor kTextMuted{0x5b, 0x6b, 0x7c};
inline const QColor kHeaderText{0xe8, 0xee, 0xf4};
inline const QColor kHeaderTextMuted{0x8a, 0x9b, 0xad};
inline const QColor kHover{0x2c, 0x3e, 0x52};
inline const QColor kDanger{0xd6, 0x45, 0x45};
inline const QColor kGood{0x2e, 0xa0, 0x5f};

// Sizes.
inline constexpr int kHeaderHeight = 88;      // a strip for the window buttons, then the row
inline constexpr int kHeaderButtonHeight = 64;
inline constexpr int kHeaderButtonWidth = 68;
inline constexpr int kHeaderButtonGap = 8;
inline constexpr int kSelectedBarHeight = 4;
inline constexpr int kCornerRadius = 6;

// The style sheet of the whole program (buttons, inputs, lists, scroll bars, tabs).
QString ApplicationStyleSheet();
// Applies the program's style (program_style.h), the font choice and the style sheet to `app`: "Segoe UI" one point larger when the
// system has it, else "Tahoma" at its size, else the system's font.
void ApplyToApplication(QApplication& app);

}  // namespace hm::controls::skin
