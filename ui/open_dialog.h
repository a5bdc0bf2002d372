// The file-open dialog of the folder choice: one JPEG filter, any typed name accepted, reopening
// on the last confirmed file.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <string>

class QFileDialog;
class QWidget;

namespace zenfo::ui {

class OpenDialog : public QObject {
    Q_OBJECT
  public:
    // Shows the prepared dialog and gives the confirmed file, or nothing when cancelled. Tests
    // put in their own to answer without a user.
    using Chooser = std::function<std::optional<QString>(QFileDialog& dialog)>;

    explicit OpenDialog(QObject* parent);

    // Prepares the dialog, lets the chooser answer, and remembers a confirmed file. The result
    // is the path's bytes as the file system names them.
    std::optional<std::string> Execute(QWidget* parent);

    void SetChooser(Chooser chooser) { chooser_ = std::move(chooser); }
    // The last confirmed file, where the next Execute starts.
    const QString& FileName() const { return fileName_; }

    // The one filter entry: the description, and patterns matching .jpg and .jpeg in any case.
    static QString Filter();

  private:
    Chooser chooser_;
    QString fileName_;
};

}  // namespace zenfo::ui
