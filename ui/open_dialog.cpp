#include "ui/open_dialog.h"

#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>

namespace zenfo::ui {

namespace {

std::optional<QString> RunModal(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return files.first();
}

}  // namespace

OpenDialog::OpenDialog(QObject* parent) : QObject(parent), chooser_(RunModal) {}

QString OpenDialog::Filter() {
    // Name filters are matched case-sensitively on Linux, so each letter is given in both cases.
    return QStringLiteral("JPEGﾌｧｲﾙ (*.[jJ][pP][gG] *.[jJ][pP][eE][gG])");
}

std::optional<std::string> OpenDialog::Execute(QWidget* parent) {
    QFileDialog dialog(parent);
    // Qt's own dialog: it accepts a typed name that does not exist and keeps the filter as set.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(Filter());
    dialog.setSizeGripEnabled(true);
    if (!fileName_.isEmpty()) {
        dialog.setDirectory(QFileInfo(fileName_).absolutePath());
        dialog.selectFile(fileName_);
    }
    const std::optional<QString> chosen = chooser_(dialog);
    if (!chosen || chosen->isEmpty()) return std::nullopt;
    fileName_ = *chosen;
    return QFile::encodeName(*chosen).toStdString();
}

}  // namespace zenfo::ui
