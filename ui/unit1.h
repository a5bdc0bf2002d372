// The main window: every control with its texts and defaults, the folder choice, the album run
// with its after-run action, the slideshow timer and the error report.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "album/picture.h"
#include "album/run.h"
#include "album/scan.h"
#include "album/settings.h"
#include "presentation/browser.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace zenfo::ui {

class OpenDialog;
class PreviewImage;
class RadioGroup;

// The browser window of the album: made by its factory on the first navigation, so that a
// window that never shows an album never starts a browser. A failed creation is tried again
// on the next navigation.
class LazyBrowser : public Browser {
  public:
    using Factory = std::function<std::unique_ptr<Browser>()>;
    explicit LazyBrowser(Factory factory) : factory_(std::move(factory)) {}
    void Navigate(const std::string& localPath) override;
    void SetFactory(Factory factory);

  private:
    Factory factory_;
    std::unique_ptr<Browser> browser_;
};

class TForm1 : public QWidget, public RunWindow {
    Q_OBJECT
  public:
    // Shows the error report: a modal critical box with caption and text.
    using ErrorBox =
        std::function<void(QWidget* parent, const QString& caption, const QString& text)>;

    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The components, in declared order; each also carries its name as objectName.
    QPushButton* SelectFolder;
    OpenDialog* OpenDialog1;
    QPushButton* MakeThumbNail;
    PreviewImage* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLineEdit* Edit1;
    RadioGroup* RadioGroup1;
    QPlainTextEdit* Memo1;
    QLabel* Label4;
    QLabel* Label5;
    QLineEdit* Edit2;
    QLabel* Label6;
    RadioGroup* RadioGroup2;
    QCheckBox* CheckBox1;
    RadioGroup* RadioGroup3;
    RadioGroup* RadioGroup4;
    QPushButton* Button1;
    RadioGroup* RadioGroup5;
    RadioGroup* RadioGroup6;
    QPushButton* Button2;
    QTimer* Timer1;

    // Event handlers. Errors leave them as exceptions; the connected events report them.
    void FormCreate();
    void FormClose();
    void SelectFolderClick();
    void MakeThumbNailClick();
    void Button1Click();
    void Button2Click();
    void Timer1Timer();

    // RunWindow
    AlbumSettings ReadAlbumSettings() override;
    void Show(RunControl control) override;
    void Hide(RunControl control) override;
    void Enable(RunControl control) override;
    void Disable(RunControl control) override;
    void SetText(RunControl control, const std::string& text) override;
    void Repaint() override;
    void Progress(int photoNumber, int photoCount) override;
    void PreviewChanged(const LoadedPhoto& photo) override;
    void RunFailed() override;

    const std::string& PhotoFolder() const { return photoFolder_; }
    const zenfo::PhotoList& Photos() const { return photoList_; }
    // The bits per pixel of the display that the preview's photo is decoded for.
    int DisplayDepth() const { return displayDepth_; }

    // Replace the browser window (made on first use) and the error box; tests answer with fakes.
    void SetBrowserFactory(LazyBrowser::Factory factory);
    void SetErrorBox(ErrorBox errorBox) { errorBox_ = std::move(errorBox); }

    // The standard error report of message: "." appended when its last byte sorts above ".".
    void ReportError(const std::string& message);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void CreateComponents();
    void SetTabOrder();
    void ScanPhotoFolder(const std::string& filePath);
    QWidget* ControlOf(RunControl control) const;
    // Runs one event's handler; an error that leaves it goes to the error report.
    void Handle(void (TForm1::*handler)());
    void OnMakeThumbNailClicked();

    std::string photoFolder_;
    zenfo::PhotoList photoList_;
    int displayDepth_;
    std::unique_ptr<LoadedPhoto> photo_;  // the preview's photo, kept between runs
    LazyBrowser browserWindow_;
    ErrorBox errorBox_;
};

}  // namespace zenfo::ui
