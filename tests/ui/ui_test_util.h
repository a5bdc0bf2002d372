// Helpers for window tests: the one QApplication, fakes for the browser and the error box, and
// small JPEG files.
#pragma once

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "album/slideshow_state.h"
#include "presentation/browser.h"
#include "ui/application.h"
#include "ui/unit1.h"

namespace zenfo::test {

// Made on first use, so that listing the tests needs no display.
inline QApplication& App() {
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        ui::PrepareEnvironment();
        static int argc = 1;
        static char name[] = "ui_test";
        static char* argv[] = {name, nullptr};
        auto* created = new QApplication(argc, argv);
        ui::SetUpApplication(*created);
        return created;
    }();
    return *app;
}

// Records every navigation; throws error instead when it is set.
struct FakeBrowser : Browser {
    explicit FakeBrowser(std::vector<std::string>& log, std::string error = {})
        : log_(log), error_(std::move(error)) {}
    void Navigate(const std::string& localPath) override {
        if (!error_.empty()) throw BrowserError(error_);
        log_.push_back(localPath);
    }
    std::vector<std::string>& log_;
    std::string error_;
};

// A window wired to fakes: navigations and error boxes are recorded, never shown.
struct TestWindow {
    // make gives the window under test (a TForm1 by default, or a test's subclass).
    explicit TestWindow(std::function<std::unique_ptr<ui::TForm1>()> make = {}) {
        App();
        ProcessSlideshow() = SlideshowState{};
        form = make ? make() : std::make_unique<ui::TForm1>();
        form->SetBrowserFactory([this] {
            ++browsersMade;
            return std::make_unique<FakeBrowser>(navigations, browserError);
        });
        form->SetErrorBox([this](QWidget*, const QString& caption, const QString& text) {
            captions.push_back(caption.toStdString());
            errors.push_back(text.toStdString());
            if (onErrorBox) onErrorBox();
        });
    }
    ~TestWindow() { ProcessSlideshow() = SlideshowState{}; }

    std::unique_ptr<ui::TForm1> form;
    std::vector<std::string> navigations;
    std::vector<std::string> errors;
    std::vector<std::string> captions;
    std::string browserError;  // when set, every navigation fails with it
    int browsersMade = 0;
    std::function<void()> onErrorBox;  // runs while the error box would be open
};

// A small one-colour JPEG file.
inline void WriteJpeg(const std::string& path, int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    if (!image.save(QString::fromStdString(path), "JPG"))
        throw std::runtime_error("cannot write " + path);
}

}  // namespace zenfo::test
