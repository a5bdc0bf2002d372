// Process-wide setup of the window program: environment, application names, icon and typeface.
#pragma once

#include <QFont>
#include <QIcon>
#include <QString>

class QApplication;

namespace zenfo::ui {

// The application title: the caption of every error box.
inline constexpr const char* kApplicationTitle = "ゼンフォ";

// Settles what must be decided before the QApplication exists: positions and sizes are pixels,
// never scaled by the display's resolution.
void PrepareEnvironment();

// Names the program (desktop entry "zenfo") and gives it its icon.
void SetUpApplication(QApplication& app);

// The program's 32 x 32 icon, compiled into the program.
QIcon ProgramIcon();

// The first installed of "MS PGothic", "IPAPGothic", "Noto Sans CJK JP" at pixel size 12,
// regular; the default family at pixel size 12 when none of them is installed.
QFont WindowFont();

}  // namespace zenfo::ui
