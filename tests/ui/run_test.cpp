// The generate button: a whole run from the window, its after-run action, a failed run, and the
// slideshow timer.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <filesystem>

#include "album/test_util.h"
#include "presentation/slideshow.h"
#include "ui/open_dialog.h"
#include "ui/preview_image.h"
#include "ui/radio_group.h"
#include "ui/ui_test_util.h"

namespace zenfo::test {
namespace {

using ui::TForm1;

const char* const kStartText = "　写真のあるフォルダを指定してください→";

// Chooses the folder of path in the dialog, as the user would.
void ChooseFolder(TForm1& form, const std::string& path) {
    form.OpenDialog1->SetChooser(
        [path](QFileDialog&) -> std::optional<QString> { return QString::fromStdString(path); });
    form.SelectFolder->click();
}

struct Visibility {
    bool selectFolder, makeThumbNail, image1, label4, memo1, label5;
};

void ExpectVisibility(TForm1& form, Visibility expected) {
    EXPECT_EQ(form.SelectFolder->isVisibleTo(&form), expected.selectFolder);
    EXPECT_EQ(form.MakeThumbNail->isVisibleTo(&form), expected.makeThumbNail);
    EXPECT_EQ(form.Image1->isVisibleTo(&form), expected.image1);
    EXPECT_EQ(form.Label4->isVisibleTo(&form), expected.label4);
    EXPECT_EQ(form.Memo1->isVisibleTo(&form), expected.memo1);
    EXPECT_EQ(form.Label5->isVisibleTo(&form), expected.label5);
}

bool Exists(const TempDir& dir, const std::string& name) {
    return std::filesystem::exists(dir.File(name));
}

TEST(RunTest, GenerateWritesTheAlbumAndOpensTheIndex) {
    TempDir dir;
    WriteJpeg(dir.File("a.jpg"), 64, 48, Qt::red);
    WriteJpeg(dir.File("B.JPG"), 48, 64, Qt::green);
    WriteJpeg(dir.File("s_c.jpg"), 16, 16, Qt::blue);
    TestWindow window;
    TForm1& form = *window.form;
    form.show();
    form.Memo1->setPlainText(QStringLiteral("説明"));
    ChooseFolder(form, dir.File("a.jpg"));
    ASSERT_TRUE(form.MakeThumbNail->isVisibleTo(&form));

    form.MakeThumbNail->click();

    EXPECT_TRUE(window.errors.empty()) << window.errors.front();
    for (const char* name : {"index.html", "zenfo-s-photo0000.jpg", "zenfo-photo0000.html",
                             "zenfo-s-photo0001.jpg", "zenfo-photo0001.html"}) {
        EXPECT_TRUE(Exists(dir, name)) << name;
    }
    EXPECT_FALSE(Exists(dir, "zenfo-s-photo0002.jpg")) << "s_c.jpg is passed over";
    EXPECT_FALSE(Exists(dir, "zenfo-photo0000.jpg")) << "no enlarged picture for the original";
    EXPECT_NE(ReadFileBytes(dir.File("index.html")).find("</html>"), std::string::npos);

    // The after-run action: the index page, shown twice in a browser made on first use.
    EXPECT_EQ(window.browsersMade, 1);
    EXPECT_EQ(window.navigations,
              (std::vector<std::string>{dir.File("index.html"), dir.File("index.html")}));

    // The window after a run: ready for a further folder choice.
    ExpectVisibility(form, {true, false, false, true, true, true});
    EXPECT_TRUE(form.MakeThumbNail->isEnabled());
    EXPECT_EQ(form.Label5->text().toStdString(), " サムネイルの作成が終了しました。");
    EXPECT_GE(form.Label5->width(),
              QFontMetrics(form.Label5->font()).horizontalAdvance(form.Label5->text()));
    EXPECT_EQ(form.Label1->text().toStdString(), kStartText);
    EXPECT_EQ(form.Label2->text().toStdString(), dir.Path());
    EXPECT_EQ(form.Memo1->toPlainText().toStdString(), "説明");
    EXPECT_EQ(ProcessSlideshow().Pages,
              (std::vector<std::string>{"zenfo-photo0000.html", "zenfo-photo0001.html"}));
    EXPECT_FALSE(ProcessSlideshow().Active);

    // The preview keeps the last photo, stretched over its whole area.
    const QImage preview = form.Image1->Picture();
    ASSERT_FALSE(preview.isNull());
    EXPECT_EQ(preview.size(), QSize(239, 185));
    const QColor centre = preview.pixelColor(119, 92);
    EXPECT_GT(centre.green(), 200);
    EXPECT_LT(centre.red(), 60);

    // A second run after a new folder choice navigates the same browser again.
    ChooseFolder(form, dir.File("a.jpg"));
    form.RadioGroup6->SetItemIndex(2);  // ＮＯ
    form.MakeThumbNail->click();
    EXPECT_TRUE(window.errors.empty());
    EXPECT_EQ(window.navigations.size(), 2u);
    EXPECT_EQ(window.browsersMade, 1);
}

TEST(RunTest, SlideshowAfterTheRunStepsOnEachTick) {
    TempDir dir;
    WriteJpeg(dir.File("a.jpg"), 32, 24, Qt::red);
    WriteJpeg(dir.File("b.jpg"), 32, 24, Qt::blue);
    TestWindow window;
    TForm1& form = *window.form;
    ChooseFolder(form, dir.File("a.jpg"));
    form.RadioGroup3->SetItemIndex(0);  // 作成ファイル: enlarged pictures too
    form.RadioGroup6->SetItemIndex(1);  // SLID
    form.MakeThumbNail->click();

    ASSERT_TRUE(window.errors.empty()) << window.errors.front();
    EXPECT_TRUE(Exists(dir, "zenfo-photo0000.jpg"));
    EXPECT_TRUE(Exists(dir, "zenfo-photo0001.jpg"));
    EXPECT_TRUE(ProcessSlideshow().Active);
    EXPECT_TRUE(window.navigations.empty()) << "the first page waits for the next tick";
    EXPECT_EQ(window.browsersMade, 0);

    for (int tick = 0; tick < 4; ++tick) form.Timer1Timer();
    EXPECT_EQ(window.navigations,
              (std::vector<std::string>{dir.File("zenfo-photo0000.html"),
                                        dir.File("zenfo-photo0001.html"), dir.File("index.html")}));
    EXPECT_FALSE(ProcessSlideshow().Active);
}

TEST(RunTest, FailedRunReportsAndGivesTheWindowBack) {
    TempDir dir;
    WriteJpeg(dir.File("a.jpg"), 32, 24, Qt::red);
    WriteFileBytes(dir.File("x.jpg"), "this is not a photo\n");
    TestWindow window;
    TForm1& form = *window.form;
    form.show();
    ChooseFolder(form, dir.File("a.jpg"));
    form.MakeThumbNail->click();

    ASSERT_EQ(window.errors.size(), 1u);
    EXPECT_EQ(window.errors[0], "JPEG エラー #53.");
    EXPECT_EQ(window.captions[0], "ゼンフォ");
    EXPECT_TRUE(window.navigations.empty()) << "no after-run action after a failure";
    EXPECT_EQ(window.browsersMade, 0);

    // Given back for a new folder choice, keeping the progress text of the failing photo.
    ExpectVisibility(form, {true, false, false, true, true, true});
    EXPECT_TRUE(form.MakeThumbNail->isEnabled());
    EXPECT_EQ(form.Label5->text().toStdString(), "x.jpgを処理しています");
    EXPECT_EQ(form.Label1->text().toStdString(), kStartText);
    EXPECT_TRUE(Exists(dir, "zenfo-s-photo0000.jpg")) << "what was written before stays";

    // The next folder choice and run work again.
    std::filesystem::remove(dir.File("x.jpg"));
    ChooseFolder(form, dir.File("a.jpg"));
    form.MakeThumbNail->click();
    EXPECT_EQ(window.errors.size(), 1u);
    EXPECT_EQ(window.navigations.size(), 2u);
}

TEST(RunTest, RunInAMissingFolderFailsAtTheIndex) {
    TempDir dir;
    TestWindow window;
    TForm1& form = *window.form;
    ChooseFolder(form, dir.File("missing/typed.jpg"));
    ASSERT_EQ(form.PhotoFolder(), dir.File("missing/"));
    form.MakeThumbNail->click();
    ASSERT_EQ(window.errors.size(), 1u);
    EXPECT_EQ(window.errors[0], "ファイル名の指定が間違っています.");
    ExpectVisibility(form, {true, false, false, true, true, true});
    EXPECT_EQ(form.Label5->text().toStdString(), "") << "before the first photo the text stays";
}

// Clicks the folder button and presses Enter while the run repaints, as an impatient user would.
class ImpatientUserForm : public TForm1 {
  public:
    void Repaint() override {
        const QPointF centre = QRectF(SelectFolder->rect()).center();
        const QPointF global = SelectFolder->mapToGlobal(centre);
        QCoreApplication::postEvent(
            SelectFolder, new QMouseEvent(QEvent::MouseButtonPress, centre, global, Qt::LeftButton,
                                          Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(SelectFolder,
                                    new QMouseEvent(QEvent::MouseButtonRelease, centre, global,
                                                    Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
        QCoreApplication::postEvent(
            SelectFolder,
            new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" ")));
        QCoreApplication::postEvent(
            SelectFolder,
            new QKeyEvent(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" ")));
        TForm1::Repaint();
    }
};

TEST(RunTest, InputGivenDuringTheRunIsDropped) {
    TempDir dir;
    WriteJpeg(dir.File("a.jpg"), 32, 24, Qt::red);
    TestWindow window([] { return std::make_unique<ImpatientUserForm>(); });
    TForm1& form = *window.form;
    form.show();
    ChooseFolder(form, dir.File("a.jpg"));
    int dialogs = 0;
    form.OpenDialog1->SetChooser([&](QFileDialog&) -> std::optional<QString> {
        ++dialogs;
        return std::nullopt;
    });
    form.RadioGroup6->SetItemIndex(2);
    form.MakeThumbNail->click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.errors.empty());
    EXPECT_EQ(dialogs, 0) << "a click given during the run opened the dialog afterwards";

    // Input after the run reaches the window as usual.
    form.SelectFolder->click();
    EXPECT_EQ(dialogs, 1);
}

TEST(RunTest, TimerErrorsAreReportedAlsoWhileAnErrorBoxIsOpen) {
    TestWindow window;
    TForm1& form = *window.form;
    int attempts = 0;
    form.SetBrowserFactory([&]() -> std::unique_ptr<Browser> {
        ++attempts;
        throw BrowserError("ブラウザが起動できません");
    });
    StartSlideshow(ProcessSlideshow());
    form.Timer1->setInterval(10);

    // The first box stays open for a while; the timer goes on ticking behind it.
    int open = 0;
    int nestedReports = 0;
    window.onErrorBox = [&] {
        if (open > 0) {
            ++nestedReports;
            return;
        }
        ++open;
        QEventLoop box;
        QTimer::singleShot(300, &box, &QEventLoop::quit);
        box.exec();
        --open;
    };
    QEventLoop loop;
    QTimer::singleShot(400, &loop, &QEventLoop::quit);
    loop.exec();

    ASSERT_GE(window.errors.size(), 2u);
    EXPECT_GE(nestedReports, 1);
    EXPECT_EQ(window.errors[0], "ブラウザが起動できません.");
    EXPECT_EQ(window.captions[0], "ゼンフォ");
    // A failed browser creation is tried again at the next tick.
    EXPECT_EQ(attempts, static_cast<int>(window.errors.size()));
}

}  // namespace
}  // namespace zenfo::test
