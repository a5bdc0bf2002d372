#include "ui/application.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStringList>

namespace zenfo::ui {

void PrepareEnvironment() {
    // The layout is laid out in device pixels; scaling it would move text out of its fixed boxes.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
}

void SetUpApplication(QApplication& app) {
    // The title goes into error boxes only: as the display name Qt would append it to the window
    // caption.
    app.setApplicationName(QStringLiteral("zenfo"));
    app.setDesktopFileName(QStringLiteral("zenfo"));
    app.setWindowIcon(ProgramIcon());
}

QIcon ProgramIcon() {
    return QIcon(QStringLiteral(":/zenfo/zenfo.png"));
}

QFont WindowFont() {
    const QStringList installed = QFontDatabase::families();
    QFont font;
    for (const char* family : {"MS PGothic", "IPAPGothic", "Noto Sans CJK JP"}) {
        const QString name = QString::fromUtf8(family);
        if (installed.contains(name, Qt::CaseInsensitive)) {
            font = QFont(name);
            break;
        }
    }
    font.setPixelSize(12);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

}  // namespace zenfo::ui
